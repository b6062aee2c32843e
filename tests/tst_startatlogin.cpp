#include "testsupport.h"

class Testplatform : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() { QSKIP("not written yet"); }
};

MARROWGATE_TEST_MAIN(Testplatform)
#include "tst_startatlogin.moc"
