// A window with one text field, for the input-method tests: run with QT_IM_MODULE=ibus or
// QT_IM_MODULE=fcitx, the field's input context belongs to that framework, and the framework
// switches engines for it while it has the focus. Prints {"ready": true} once the window is shown.
//   tesvano-im-window
#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLineEdit field;
    field.setWindowTitle("Input method test");
    field.resize(320, 48);
    field.show();
    field.activateWindow();
    field.setFocus();
    QTimer::singleShot(0, [] {
        std::puts("{\"ready\": true}");
        std::fflush(stdout);
    });
    return app.exec();
}
