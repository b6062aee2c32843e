#include "testsupport.h"

class Testlogwindow : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() { QSKIP("not written yet"); }
};

MARROWGATE_TEST_MAIN(Testlogwindow)
#include "tst_logwindow.moc"
