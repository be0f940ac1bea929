#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDateTime>
#include <QLoggingCategory>
#include <QMessageLogger>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/log.h"
#include "platform/log_sink.h"

namespace zorvak {

namespace {

// Info and above on by default; QT_LOGGING_RULES overrides.
QLoggingCategory& CategoryOf(LogCategory category) {
    static QLoggingCategory app("zorvak.app", QtInfoMsg);
    static QLoggingCategory fetch("zorvak.fetch", QtInfoMsg);
    static QLoggingCategory import("zorvak.import", QtInfoMsg);
    static QLoggingCategory download("zorvak.download", QtInfoMsg);
    static QLoggingCategory play("zorvak.play", QtInfoMsg);
    static QLoggingCategory power("zorvak.power", QtInfoMsg);
    switch (category) {
        case LogCategory::kApp: return app;
        case LogCategory::kFetch: return fetch;
        case LogCategory::kImport: return import;
        case LogCategory::kDownload: return download;
        case LogCategory::kPlay: return play;
        case LogCategory::kPower: return power;
    }
    return app;
}

QtMsgType QtTypeOf(LogLevel level) {
    switch (level) {
        case LogLevel::kDebug: return QtDebugMsg;
        case LogLevel::kInfo: return QtInfoMsg;
        case LogLevel::kWarning: return QtWarningMsg;
    }
    return QtInfoMsg;
}

class QtLogSink final : public LogSink {
public:
    bool IsEnabled(LogCategory category, LogLevel level) const override {
        return CategoryOf(category).isEnabled(QtTypeOf(level));
    }
    void Write(LogCategory category, LogLevel level, std::string_view message) override {
        QLoggingCategory& cat = CategoryOf(category);
        const QByteArray text(message.data(), static_cast<qsizetype>(message.size()));
        QMessageLogger logger(nullptr, 0, nullptr, cat.categoryName());
        switch (level) {
            case LogLevel::kDebug: logger.debug("%s", text.constData()); break;
            case LogLevel::kInfo: logger.info("%s", text.constData()); break;
            case LogLevel::kWarning: logger.warning("%s", text.constData()); break;
        }
    }
};

// syslog priorities as the journal reads them from a "<N>" line prefix.
int JournalPriority(QtMsgType type) {
    switch (type) {
        case QtDebugMsg: return 7;
        case QtInfoMsg: return 6;
        case QtWarningMsg: return 4;
        case QtCriticalMsg: return 3;
        case QtFatalMsg: return 2;
    }
    return 6;
}

const char* LevelName(QtMsgType type) {
    switch (type) {
        case QtDebugMsg: return "debug";
        case QtInfoMsg: return "info";
        case QtWarningMsg: return "warning";
        case QtCriticalMsg: return "critical";
        case QtFatalMsg: return "fatal";
    }
    return "info";
}

bool g_toJournal = false;

void WriteLine(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const char* category = context.category != nullptr ? context.category : "default";
    const QByteArray text = message.toUtf8();
    if (g_toJournal) {
        // One journal entry per line: a message of several lines keeps the
        // prefix on each.
        for (const QByteArray& line : text.split('\n'))
            std::fprintf(stderr, "<%d>%s: %s\n", JournalPriority(type), category, line.constData());
    } else {
        const QByteArray when =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8();
        std::fprintf(stderr, "%s %s %s: %s\n", when.constData(), LevelName(type), category,
                     text.constData());
    }
    std::fflush(stderr);
}

}  // namespace

bool StderrIsJournalStream() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr) return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
    struct stat st {};
    if (::fstat(STDERR_FILENO, &st) != 0) return false;
    return static_cast<unsigned long long>(st.st_dev) == device &&
           static_cast<unsigned long long>(st.st_ino) == inode;
}

void RouteLogThroughQt() {
    static QtLogSink sink;
    SetLogSink(&sink);
}

void InstallProcessLog() {
    RouteLogThroughQt();
    g_toJournal = StderrIsJournalStream();
    qInstallMessageHandler(WriteLine);
}

void InstallQuietProcessLog() {
    // QT_LOGGING_RULES, read after these rules, still wins.
    QLoggingCategory::setFilterRules(QStringLiteral("zorvak.*=false"));
    InstallProcessLog();
}

}  // namespace zorvak
