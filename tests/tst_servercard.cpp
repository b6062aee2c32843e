#include "testsupport.h"

class Testservercard : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() { QSKIP("not written yet"); }
};

MARROWGATE_TEST_MAIN(Testservercard)
#include "tst_servercard.moc"
