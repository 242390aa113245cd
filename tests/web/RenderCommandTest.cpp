#include "support/CacheIsolation.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

CliRun renderCommand(const QStringList &args) {
    QProcess cli;
    cli.start(QStringLiteral(CHENGLAN_BINARY_DIR "/src/chenglan-cli"), QStringList{QStringLiteral("render")} + args);
    cli.waitForFinished(60000);
    return {cli.exitCode(), cli.readAllStandardOutput(), cli.readAllStandardError()};
}

class RenderCommand : public ::testing::Test {
protected:
    QString write(const QString &name, const QByteArray &bytes) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return path;
    }
    QTemporaryDir m_dir;
};

TEST_F(RenderCommand, PrintsTheTextAsTheScrapersSeeIt) {
    const QString page =
        write(QStringLiteral("page.htm"), "<table><tr><td>a,</td><td>b&nbsp;</td>\xE2\x80\x96</tr></table>x<br>y|$z");
    const CliRun plain = renderCommand({page, QStringLiteral("--charset"), QStringLiteral("utf-8")});
    EXPECT_EQ(plain.exitCode, 0) << plain.err.toStdString();
    EXPECT_EQ(plain.out, "a,b\xC2\xA0\xE2\x80\x96\r\nx\r\ny|$z");

    const CliRun shown =
        renderCommand({QStringLiteral("--show-breaks"), page, QStringLiteral("--charset"), QStringLiteral("utf-8")});
    EXPECT_EQ(QString::fromUtf8(shown.out), QStringLiteral("a,b⍽‖\n␍␊\nx␍␊\ny|\n$\nz\n"));
}

TEST_F(RenderCommand, FileDecodedAsBrowsersSniffLocalFiles) {
    const QString declared = write(QStringLiteral("declared.htm"), "<meta charset=\"utf-8\"><p>\xE4\xB8\xAD</p>");
    EXPECT_EQ(renderCommand({declared}).out, "\xE4\xB8\xAD");
    // No label: UTF-8 when the bytes are UTF-8, else GB18030.
    const CliRun utf8 = renderCommand({write(QStringLiteral("u.htm"), "<p>\xE4\xB8\xAD</p>")});
    EXPECT_EQ(utf8.exitCode, 0) << utf8.err.toStdString();
    EXPECT_EQ(utf8.out, "\xE4\xB8\xAD");
    const QString gb = write(QStringLiteral("gb.htm"), "<p>\xD6\xD0</p>");
    EXPECT_EQ(renderCommand({gb}).out, "\xE4\xB8\xAD");
    const CliRun markup = renderCommand({gb, QStringLiteral("--body-markup")});
    EXPECT_EQ(markup.out, "<p>\xE4\xB8\xAD</p>");
    // A byte-order mark wins over everything; a meta label over the sniffing.
    EXPECT_EQ(renderCommand({write(QStringLiteral("bom.htm"), QByteArray("\xFF\xFE<\0p\0>\0\x2D\x4E", 10))}).out,
              "\xE4\xB8\xAD");
    // "é" in UTF-8 is "茅" in GBK.
    EXPECT_EQ(renderCommand({write(QStringLiteral("gbmeta.htm"), "<meta charset=gbk><p>\xC3\xA9</p>")}).out,
              "\xE8\x8C\x85");
    EXPECT_EQ(renderCommand({write(QStringLiteral("plain.htm"), "<p>\xC3\xA9</p>")}).out, "\xC3\xA9");
    const CliRun refused = renderCommand({write(QStringLiteral("u7.htm"), "<meta charset=utf-7><p>+ZeVnLIqe-</p>")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains("\"utf-7\"")) << refused.err.toStdString();
}

TEST_F(RenderCommand, FailuresSayWhy) {
    const CliRun missing = renderCommand({m_dir.filePath(QStringLiteral("none.htm"))});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("cannot read"));
    EXPECT_EQ(renderCommand({QStringLiteral("--charset"), QStringLiteral("big5"), QStringLiteral("x")}).exitCode, 2);
    EXPECT_EQ(renderCommand({}).exitCode, 2);

    // A recording whose body links outside its folder shows nothing of it.
    const QString secret = write(QStringLiteral("secret"), "root:x:0:0:secret");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("rec")));
    write(QStringLiteral("rec/index.jsonl"),
          "{\"seq\":1,\"method\":\"GET\",\"url\":\"http://x.invalid/a\",\"status\":200,\"headers\":[],"
          "\"body\":\"0001.body\",\"bytes\":17}\n");
    ASSERT_TRUE(QFile::link(secret, m_dir.filePath(QStringLiteral("rec/0001.body"))));
    const CliRun linked = renderCommand({QStringLiteral("--url"), QStringLiteral("http://x.invalid/a"),
                                         QStringLiteral("--replay"), m_dir.filePath(QStringLiteral("rec"))});
    EXPECT_EQ(linked.exitCode, 1);
    EXPECT_FALSE(linked.out.contains("secret")) << linked.out.toStdString();
    EXPECT_TRUE(linked.err.contains("symbolic link")) << linked.err.toStdString();
}

} // namespace
