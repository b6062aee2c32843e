#include "testsupport.h"

class Testserverconfig : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() { QSKIP("not written yet"); }
};

MARROWGATE_TEST_MAIN(Testserverconfig)
#include "tst_mainwindow.moc"
