#include "testsupport.h"

class Testconnection : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() { QSKIP("not written yet"); }
};

MARROWGATE_TEST_MAIN(Testconnection)
#include "tst_connection.moc"
