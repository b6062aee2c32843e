#include "testsupport.h"

class Testapp : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() { QSKIP("not written yet"); }
};

MARROWGATE_TEST_MAIN(Testapp)
#include "tst_app.moc"
