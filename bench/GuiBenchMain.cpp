// The main of the benchmarks of widgets: a QApplication on the offscreen platform unless
// QT_QPA_PLATFORM names another, without the platform's remark on every window shown.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtWarningMsg || !message.contains(QStringLiteral("propagateSizeHints"))) {
            std::fprintf(stderr, "%s\n", qPrintable(message));
        }
    });
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
