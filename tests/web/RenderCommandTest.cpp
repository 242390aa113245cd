#include "support/CacheIsolation.h"

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
    const QString page = write(QStringLiteral("page.htm"),
                               "<table><tr><td>a,</td><td>b&nbsp;</td>\xE2\x80\x96</tr></table>x<br>y|$z");
    const CliRun plain = renderCommand({page, QStringLiteral("--charset"), QStringLiteral("utf-8")});
    EXPECT_EQ(plain.exitCode, 0) << plain.err.toStdString();
    EXPECT_EQ(plain.out, "a,b\xC2\xA0\xE2\x80\x96\r\nx\r\ny|$z");

    const CliRun shown = renderCommand({QStringLiteral("--show-breaks"), page, QStringLiteral("--charset"), QStringLiteral("utf-8")});
    EXPECT_EQ(QString::fromUtf8(shown.out), QStringLiteral("a,b⍽‖\n␍␊\nx␍␊\ny|\n$\nz\n"));
}

TEST_F(RenderCommand, FileDecodedByItsMetaCharsetElseGb18030) {
    const QString declared = write(QStringLiteral("declared.htm"),
                                   "<meta charset=\"utf-8\"><p>\xE4\xB8\xAD</p>");
    EXPECT_EQ(renderCommand({declared}).out, "\xE4\xB8\xAD");
    const QString gb = write(QStringLiteral("gb.htm"), "<p>\xD6\xD0</p>");
    EXPECT_EQ(renderCommand({gb}).out, "\xE4\xB8\xAD");
    const CliRun markup = renderCommand({gb, QStringLiteral("--body-markup")});
    EXPECT_EQ(markup.out, "<p>\xE4\xB8\xAD</p>");
}

TEST_F(RenderCommand, FailuresSayWhy) {
    const CliRun missing = renderCommand({m_dir.filePath(QStringLiteral("none.htm"))});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("cannot read"));
    const CliRun utf8 = renderCommand({write(QStringLiteral("u.htm"), "<p>\xE4\xB8\xAD</p>")});
    EXPECT_EQ(utf8.exitCode, 1);
    EXPECT_TRUE(utf8.err.contains("--charset utf-8")) << utf8.err.toStdString();
    EXPECT_EQ(renderCommand({QStringLiteral("--charset"), QStringLiteral("big5"), QStringLiteral("x")}).exitCode, 2);
    EXPECT_EQ(renderCommand({}).exitCode, 2);
}

} // namespace
