#include "testsupport.h"

class Testeditserver : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() { QSKIP("not written yet"); }
};

MARROWGATE_TEST_MAIN(Testeditserver)
#include "tst_editserver.moc"
