#include "testsupport.h"

class Testdarkthemehelper : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() { QSKIP("not written yet"); }
};

MARROWGATE_TEST_MAIN(Testdarkthemehelper)
#include "tst_darkthemehelper.moc"
