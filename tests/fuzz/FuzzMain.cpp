// The libFuzzer entry of one harness; which one is decided at build time.
#include "FuzzTargets.h"

#include <QCoreApplication>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Qt's image plugins and settings want an application object; it gets only the
    // program's name, so libFuzzer's own options never reach it.
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    static QCoreApplication app(qtArgc, qtArgv);
    // Refusals are logged; thousands a second would drown the fuzzer's own report.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    (void)argc;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzTargets::run(QStringLiteral(VELLUMA_FUZZ_HARNESS), data, size);
    return 0;
}
