#include "testsupport.h"

class Testpreferences : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() { QSKIP("not written yet"); }
};

MARROWGATE_TEST_MAIN(Testpreferences)
#include "tst_preferences.moc"
