#include "app/client_environment.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>

#include "core/product_texts.h"
#include "playlist/fetch.h"

namespace zorvak {

ClientEnvironment DefaultClientEnvironment() {
    ClientEnvironment env;
    env.appDirectory = std::make_unique<ExecutableAppDirectory>();
    env.clock = std::make_unique<SystemClock>();
    env.connectivity = CreateConnectivity();
    env.autoRun = CreateAutoRun();
    env.shell = CreateShellControl();
    env.power = CreatePower();
    env.errorBox = ShowStandardErrorBox;
    env.showMessage = [](const std::string& text) {
        QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(texts::kApplicationTitle),
                        QString::fromStdString(text), QMessageBox::Ok);
        box.exec();
    };
    env.playlistServer = PlaylistServerAddress();
    env.defaultKeyword = ZORVAK_DEFAULT_KEYWORD;
    env.terminate = [] { QCoreApplication::exit(0); };
    env.quitOnTerminationSignals = true;
    return env;
}

void ShowStandardErrorBox(const std::string& message) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(texts::kApplicationTitle),
                    QString::fromStdString(message), QMessageBox::Ok);
    box.exec();
}

}  // namespace zorvak
