#include "testsupport.h"

class Testfrpcmanager : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() { QSKIP("not written yet"); }
};

MARROWGATE_TEST_MAIN(Testfrpcmanager)
#include "tst_frpcmanager.moc"
