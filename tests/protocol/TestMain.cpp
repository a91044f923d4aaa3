// Test entry for everything that needs a Qt event loop: a QCoreApplication,
// and a private directory for published emulator ports.
#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir portDir;
    if (qEnvironmentVariableIsEmpty("KKM_EMULATOR_DIR"))
        qputenv("KKM_EMULATOR_DIR", portDir.path().toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
