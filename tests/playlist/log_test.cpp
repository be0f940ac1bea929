// The log lines of a fetch, an import and a download, read through a Qt
// message handler installed by the test, and the switching of categories by
// logging rules.

#include <QLoggingCategory>
#include <QString>
#include <QtGlobal>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "core/log.h"
#include "platform/log_sink.h"
#include "playlist/fetch.h"
#include "playlist/media_download.h"
#include "store_fixture.h"
#include "tests/support/fakes.h"
#include "tools/testserver/test_server.h"

namespace zorvak::test {
namespace {

struct Line {
    QtMsgType type;
    std::string category;
    std::string text;
};

std::vector<Line>* g_lines = nullptr;

void Capture(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (g_lines != nullptr)
        g_lines->push_back({type, context.category ? context.category : "", message.toStdString()});
}

class LogTest : public StoreTest {
protected:
    LogTest() {
        store_.ConnectDatabase();
        server_.Route("/getplaylist.php", [this](const Request&) { return answer_; });
        server_.Route("/media.jpg", [](const Request&) { return Response::Text(std::string(1000, 'x'), "image/jpeg"); });
        server_.Route("/gone.jpg", [](const Request&) { return Response::Status(404); });
        RouteLogThroughQt();
        g_lines = &lines_;
        previous_ = qInstallMessageHandler(Capture);
    }
    ~LogTest() override {
        qInstallMessageHandler(previous_);
        g_lines = nullptr;
        QLoggingCategory::setFilterRules(QString());
        SetLogSink(nullptr);
    }

    // The lines of one category.
    std::vector<Line> Of(const std::string& category) const {
        std::vector<Line> found;
        for (const Line& line : lines_)
            if (line.category == category) found.push_back(line);
        return found;
    }

    TestServer server_;
    ScriptedPump pump_;
    HttpClient client_{pump_};
    Settings settings_{dir_};
    SwitchConnectivity net_;
    std::string memo_;
    Response answer_ = Response::Text("");
    PlaylistFetch fetch_{net_, settings_, store_, client_,
                         PlaylistFetch::Window{[] { return std::string("site1"); },
                                               [this] { return memo_; },
                                               [this](const std::string& t) { memo_ = t; }},
                         server_.HostPort()};
    MediaDownloader downloader_{dir_, net_, pump_, nullptr};
    std::vector<Line> lines_;
    QtMessageHandler previous_ = nullptr;
};

TEST_F(LogTest, FetchAndImportWriteOneInfoLineEachWithTheirFigures) {
    const std::string doc = Document(ItemXml({{"playname", "a"}}) + ItemXml({{"playname", "b"}}));
    answer_ = Response::Text(doc);
    FetchResult r = fetch_.Fetch();
    ASSERT_EQ(r.outcome, FetchOutcome::kImported) << DescribeFetch(r);

    const auto fetch = Of("zorvak.fetch");
    ASSERT_EQ(fetch.size(), 1u);
    EXPECT_EQ(fetch[0].type, QtInfoMsg);
    EXPECT_EQ(fetch[0].text.rfind("fetch done: imported, " + std::to_string(doc.size()) + " bytes, ", 0), 0u)
        << fetch[0].text;
    EXPECT_NE(fetch[0].text.find(" ms ("), std::string::npos) << fetch[0].text;
    EXPECT_NE(fetch[0].text.find("hostname=site1"), std::string::npos) << fetch[0].text;

    const auto import = Of("zorvak.import");
    ASSERT_EQ(import.size(), 1u);
    EXPECT_EQ(import[0].type, QtInfoMsg);
    EXPECT_EQ(import[0].text.rfind("imported 2 rows in ", 0), 0u) << import[0].text;
    EXPECT_EQ(r.rows, 2u);
    EXPECT_EQ(r.bytes, doc.size());

    // The same answer again: no import, the fetch says so.
    lines_.clear();
    EXPECT_EQ(fetch_.Fetch().outcome, FetchOutcome::kUnchanged);
    ASSERT_EQ(Of("zorvak.fetch").size(), 1u);
    EXPECT_EQ(Of("zorvak.fetch")[0].text.rfind("fetch done: the playlist has not changed", 0), 0u);
    EXPECT_TRUE(Of("zorvak.import").empty());
}

TEST_F(LogTest, FailedFetchAndRefusedImportAreWarnings) {
    answer_ = Response::Status(500);
    EXPECT_EQ(fetch_.Fetch().outcome, FetchOutcome::kNoAnswer);
    ASSERT_EQ(Of("zorvak.fetch").size(), 1u);
    EXPECT_EQ(Of("zorvak.fetch")[0].type, QtWarningMsg);
    EXPECT_EQ(Of("zorvak.fetch")[0].text.rfind("fetch failed: no answer", 0), 0u)
        << Of("zorvak.fetch")[0].text;

    lines_.clear();
    answer_ = Response::Text("<root><item>");  // not well-formed
    FetchResult r = fetch_.Fetch();
    EXPECT_EQ(r.outcome, FetchOutcome::kImportFailed);
    const auto import = Of("zorvak.import");
    ASSERT_EQ(import.size(), 1u);
    EXPECT_EQ(import[0].type, QtWarningMsg);
    EXPECT_EQ(import[0].text.rfind("import refused after ", 0), 0u) << import[0].text;
    EXPECT_FALSE(r.importError.empty());
    EXPECT_EQ(Of("zorvak.fetch").at(0).type, QtWarningMsg);
}

TEST_F(LogTest, DownloadLinesGiveBytesTimeAndOutcome) {
    EXPECT_TRUE(downloader_.DownloadMediaFile("a.jpg", server_.Url("/media.jpg")));
    auto download = Of("zorvak.download");
    ASSERT_EQ(download.size(), 1u);
    EXPECT_EQ(download[0].type, QtInfoMsg);
    EXPECT_EQ(download[0].text.rfind("download done: a.jpg, 1000 bytes, ", 0), 0u) << download[0].text;
    EXPECT_NE(download[0].text.find(" ms ("), std::string::npos);

    lines_.clear();
    EXPECT_THROW(downloader_.DownloadMediaFile("b.jpg", server_.Url("/gone.jpg")), DownloadError);
    download = Of("zorvak.download");
    ASSERT_EQ(download.size(), 1u);
    EXPECT_EQ(download[0].type, QtWarningMsg);
    EXPECT_EQ(download[0].text.rfind("download failed: b.jpg, 0 bytes, ", 0), 0u) << download[0].text;
    EXPECT_NE(download[0].text.find("404"), std::string::npos) << download[0].text;

    // Already in the cache: nothing asked of the server, a debug line only,
    // which is off by default.
    lines_.clear();
    EXPECT_FALSE(downloader_.DownloadMediaFile("a.jpg", server_.Url("/media.jpg")));
    EXPECT_TRUE(Of("zorvak.download").empty());
}

TEST_F(LogTest, RulesSwitchCategoriesAndLevels) {
    EXPECT_TRUE(LogEnabled(LogCategory::kFetch, LogLevel::kInfo));
    EXPECT_FALSE(LogEnabled(LogCategory::kPlay, LogLevel::kDebug));
    QLoggingCategory::setFilterRules(QStringLiteral("zorvak.fetch=false\nzorvak.play.debug=true"));
    EXPECT_FALSE(LogEnabled(LogCategory::kFetch, LogLevel::kInfo));
    EXPECT_TRUE(LogEnabled(LogCategory::kPlay, LogLevel::kDebug));

    answer_ = Response::Text(Document(ItemXml({{"playname", "a"}})));
    EXPECT_EQ(fetch_.Fetch().outcome, FetchOutcome::kImported);
    EXPECT_TRUE(Of("zorvak.fetch").empty());
    EXPECT_EQ(Of("zorvak.import").size(), 1u);
    LogDebug(LogCategory::kPlay, "item");
    ASSERT_EQ(Of("zorvak.play").size(), 1u);
    EXPECT_EQ(Of("zorvak.play")[0].type, QtDebugMsg);
}

}  // namespace
}  // namespace zorvak::test
