#include "sites/ServiceEndpoint.h"

#include "support/FakeWeb.h"

#include <gtest/gtest.h>

using namespace chenglan;
using chenglan::testing::FakeWeb;
using namespace Qt::StringLiterals;

namespace {

class SelectServerSlotTest : public ::testing::Test {
protected:
    void SetUp() override {
        bases.serverList = u"http://127.0.0.1:9/servers/"_s;
        bases.service = u"http://127.0.0.1:18081/"_s;
    }
    QString link(int slot) const { return bases.serverList + u"link(%1).txt"_s.arg(slot); }
    SiteBases bases;
    FakeWeb web;
    StepLog log;
};

} // namespace

TEST_F(SelectServerSlotTest, SlotTwoReadsItsLinkFile) {
    web.add(link(2), "http://10.0.0.7:8080/");
    const ServerSlotChoice choice = SelectServerSlot(bases, 2, web, &log);
    ASSERT_EQ(web.requests, QStringList{link(2)});
    EXPECT_EQ(choice.slot, 2);
    EXPECT_TRUE(choice.changed);
    EXPECT_EQ(bases.service, "http://10.0.0.7:8080/");
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(serverSlotLook(2, choice.slot), (ServerSlotLook{true, 255}));
    EXPECT_EQ(serverSlotLook(0, choice.slot), ServerSlotLook{});
    EXPECT_EQ(serverSlotLook(1, choice.slot), ServerSlotLook{});
}

TEST_F(SelectServerSlotTest, SameSlotTwiceReadsTheFileAgain) {
    web.add(link(0), "http://a.example:1/");
    SelectServerSlot(bases, 0, web);
    web.add(link(0), "https://b.example/svc/");
    SelectServerSlot(bases, 0, web);
    EXPECT_EQ(web.requests.size(), 2);
    EXPECT_EQ(bases.service, "https://b.example/svc/");
}

TEST_F(SelectServerSlotTest, TrailingLineBreakIsTrimmed) {
    web.add(link(1), "  http://10.0.0.8/\r\n");
    EXPECT_TRUE(SelectServerSlot(bases, 1, web).changed);
    EXPECT_EQ(bases.service, "http://10.0.0.8/");
}

TEST_F(SelectServerSlotTest, ErrorPageKeepsThePreviousAddress) {
    web.add(link(1), "<html><head><title>404 Not Found</title></head><body>Not Found</body></html>", 404);
    const ServerSlotChoice choice = SelectServerSlot(bases, 1, web, &log);
    EXPECT_FALSE(choice.changed);
    EXPECT_EQ(choice.slot, 1);
    EXPECT_EQ(bases.service, "http://127.0.0.1:18081/");
    EXPECT_TRUE(choice.status.contains(u"服务器二")) << choice.status.toStdString();
    EXPECT_TRUE(choice.status.contains(u"http://127.0.0.1:18081/")) << choice.status.toStdString();
    EXPECT_TRUE(log.has(FailureKind::SiteError));
}

TEST_F(SelectServerSlotTest, FailedFetchKeepsThePreviousAddress) {
    const ServerSlotChoice choice = SelectServerSlot(bases, 0, web, &log);
    EXPECT_FALSE(choice.changed);
    EXPECT_EQ(bases.service, "http://127.0.0.1:18081/");
    EXPECT_TRUE(log.has(FailureKind::Network));
}

TEST_F(SelectServerSlotTest, NoSuchSlotFetchesNothing) {
    const ServerSlotChoice choice = SelectServerSlot(bases, 3, web, &log);
    EXPECT_EQ(choice.slot, -1);
    EXPECT_TRUE(web.requests.isEmpty());
    EXPECT_FALSE(log.empty());
}

TEST(ServiceBaseFromLink, AcceptsOnlyServiceAddresses) {
    EXPECT_EQ(serviceBaseFromLink(u"http://10.0.0.1:8080/"_s), u"http://10.0.0.1:8080/"_s);
    EXPECT_EQ(serviceBaseFromLink(u"HTTPS://host.example/a/b/\n"_s), u"HTTPS://host.example/a/b/"_s);
    EXPECT_EQ(serviceBaseFromLink(QChar(0xFEFF) + u"http://h/"_s), u"http://h/"_s);
    EXPECT_EQ(serviceBaseFromLink(u"http://h/@x/"_s), u"http://h/@x/"_s); // an "@" of the path is no credential
    QString why;
    // Credentials in the address would be sent with every query, to whoever the list names.
    for (const QString &text : {u"http://user:pw@h/"_s, u"http://user@h/"_s, u"https://:pw@h:8080/"_s, u"http://@h/"_s}) {
        why.clear();
        EXPECT_FALSE(serviceBaseFromLink(text, &why).has_value()) << text.toStdString();
        EXPECT_TRUE(why.contains(u"用户名"_s)) << why.toStdString();
    }
    for (const QString &text : {u""_s, u"\r\n"_s, u"127.0.0.1:8080/"_s, u"ftp://h/"_s, u"http://h"_s,
                                u"http:///"_s, u"http://h/?x=1/"_s, u"http://h/ x/"_s, u"http://h/\nhttp://i/"_s,
                                u"服务器维护中"_s, QString(5000, u'a') + u"/"_s}) {
        why.clear();
        EXPECT_FALSE(serviceBaseFromLink(text, &why).has_value()) << text.left(40).toStdString();
        EXPECT_FALSE(why.isEmpty()) << text.left(40).toStdString();
    }
}

TEST(ServerSlots, CaptionsAndLinkFiles) {
    EXPECT_EQ(serverSlotCaption(0), u"服务器一"_s);
    EXPECT_EQ(serverSlotCaption(1), u"服务器二"_s);
    EXPECT_EQ(serverSlotCaption(2), u"服务器三"_s);
    EXPECT_TRUE(serverSlotCaption(3).isEmpty());
    EXPECT_EQ(serverLinkUrl(u"http://h/list/"_s, 0), u"http://h/list/link(0).txt"_s);
}
