#include "app/HelpMenu.h"

#include "app/MainWindow.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace chenglan {

namespace {

constexpr QSize ExplanationSize{720, 640};

// The fourteen verdict levels: the upper end of each range of the strength
// difference (inclusive), and the words and scores the panel shows.
struct VerdictRow {
    const char16_t *range;
    const char16_t *words;
};
constexpr VerdictRow VerdictRows[] = {
    {u"大于 1.25", u"主队实力超强于客队，对应 4-1 3-0"},
    {u"1 以上至 1.25", u"主队实力超高于客队，对应 3-0 3-1"},
    {u"0.75 以上至 1", u"主队实力远高于客队，对应 3-1 2-0"},
    {u"0.5 以上至 0.75", u"主队实力明显高于客队，对应 2-0 1-0"},
    {u"0.25 以上至 0.5", u"主队实力高于客队，对应 1-0 2-1"},
    {u"0.1 以上至 0.25", u"主队实力略高于客队，对应 2-1 1-1"},
    {u"0 以上至 0.1", u"主队实力与客队相当，对应 1-1 1-0"},
    {u"-0.1 以上至 0", u"客队实力与主队相当，对应 0-0 0-1"},
    {u"-0.25 以上至 -0.1", u"客队实力略高于主队，对应 0-1 0-0"},
    {u"-0.5 以上至 -0.25", u"客队实力高于主队，对应 1-2 0-1"},
    {u"-0.75 以上至 -0.5", u"客队实力明显高于主队，对应 0-2 1-2"},
    {u"-1 以上至 -0.75", u"客队实力远高于主队，对应 1-3 0-2"},
    {u"-1.25 以上至 -1", u"客队实力超高于主队，对应 0-3 1-3"},
    {u"-1.25 及以下", u"客队实力超强于主队，对应 1-4 0-3"},
};

} // namespace

QMenu *helpMenu(MainWindow *window) {
    if (auto *menu = window->menuBar()->findChild<QMenu *>(QStringLiteral("helpMenu")))
        return menu;
    QMenu *menu = window->menuBar()->addMenu(QStringLiteral("帮助"));
    menu->setObjectName(QStringLiteral("helpMenu"));
    return menu;
}

QAction *helpMenuAction(MainWindow *window) {
    for (QAction *action : window->menuBar()->actions())
        if (action->menu() && action->menu()->objectName() == QStringLiteral("helpMenu"))
            return action;
    return nullptr;
}

QString explanationPage() {
    QString verdicts;
    for (const VerdictRow &row : VerdictRows)
        verdicts += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>")
                        .arg(QString::fromUtf16(row.range), QString::fromUtf16(row.words));
    return QStringLiteral(
               "<h2>读懂分析结果</h2>"
               "<p>在左边的比赛列表中点选一场比赛（或用上下键选中后稍候、按回车），"
               "程序读取两队近期的比赛，算出实力值和走势代码，画出实力面板和两幅走势图，"
               "再向数据服务查询实力情况相似的历史比赛，列在右边。</p>"

               "<h3>实力值</h3>"
               "<p>每场历史比赛先按本队的净胜球记一个<b>赛果分</b>（−2.25 至 2.25）："
               "赢 k 球（k 不超过 4）记 k/2 分，输方也有进球时再加 0.25；"
               "0-0 记 0，有进球的平局记 0.25；输球与赢球对称记负分；赢或输超过 4 球都按 ±2.25 记。</p>"
               "<p><b>实力Ⅰ</b>是最近 20 场赛果分的平均，<b>实力Ⅱ</b>是最近 10 场的平均。"
               "程序把两队在同一时期的平均值配成一对对的序列，每个序列用一条平滑曲线（6 次多项式）拟合；"
               "面板上的实力Ⅰ、实力Ⅱ是拟合曲线在最新一场处的值，保留两位小数。"
               "数值越大，说明这段时间的战绩越好。</p>"
               "<p>走势图画出这些曲线：红色为主队，蓝色为客队，黄色为两队之差。"
               "上图为实力Ⅰ（20 场），下图为实力Ⅱ（10 场）；点选一场相似比赛后，下图换成那场比赛的实力Ⅰ走势。"
               "任何一队的历史不足 20 场、或两队配不成对时，算不出实力。</p>"

               "<h3>走势代码（如 A33、B03、C10、D31）</h3>"
               "<p>主队一行末尾是由实力Ⅰ得出的代码，客队一行末尾是由实力Ⅱ得出的代码，各三个字符：</p>"
               "<ul>"
               "<li>第一个字符说明谁强：<b>A</b> 表示主队的实力Ⅰ高于客队，<b>B</b> 表示不高于（相等也是 B）；"
               "<b>C</b>、<b>D</b> 对实力Ⅱ作同样的比较。</li>"
               "<li>第二个字符是主队的走向，第三个字符是客队的走向：<b>3</b> 上升，<b>1</b> 持平"
               "（前后相差不超过 0.01），<b>0</b> 下降。</li>"
               "<li>实力Ⅰ的走向比较的是最新一场的值与曲线向前多推一场的预测值；"
               "实力Ⅱ的走向比较的是前一场的值与最新一场的值。</li>"
               "</ul>"
               "<p>例如 A30：主队实力Ⅰ较高且在上升，客队在下降。D03：主队实力Ⅱ不高于客队，"
               "主队在下降，客队在上升。</p>"

               "<h3>实力结论</h3>"
               "<p>面板最后一行是“两队对应实力差Ⅰ”，即主队实力Ⅰ减客队实力Ⅰ，"
               "按下表分为 14 级，并给出两个参考比分（主队进球在前）：</p>"
               "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">"
               "<tr><th>实力差Ⅰ</th><th>结论</th></tr>%1</table>"
               "<p>结论只看实力Ⅰ之差，比分只是与这一差距相应的常见比分，不是预测。</p>"

               "<h3>相似比赛</h3>"
               "<p>数据服务按本场的八个实力值和两个走势代码，找出实力情况最接近的历史比赛，"
               "每场两行：第一行是主队、日期、盘口和各项的第一个值，第二行是客队、开球时间、比分和第二个值。"
               "点选其中一场，可看它当时的走势，并与本场的盘口变化对照。</p>"
               "<p>列表上方的一行汇总这些比赛：如“相似 30 场：主胜 12 平 9 负 9，平均距离 0.84”，"
               "即其中主队胜、平、负各多少场（看赛果，没有赛果时看比分；两者都没有的计入“无赛果”），"
               "以及这些比赛与本场的平均距离——距离越小，实力情况越接近。</p>")
        .arg(verdicts);
}

QString aboutText(const MainWindow *window) {
    const SiteBases &s = window->sites();
    return QStringLiteral("<h3>澄岚竞彩 %1</h3>"
                          "<p>竞彩、北京单场足球比赛的实力分析。</p>"
                          "<table cellspacing=\"0\" cellpadding=\"2\">"
                          "<tr><td>赔率网站（赛程）：</td><td>%2</td></tr>"
                          "<tr><td>分析网站：</td><td>%3</td></tr>"
                          "<tr><td>盘口变化网站：</td><td>%4</td></tr>"
                          "<tr><td>数据服务：</td><td>%5</td></tr>"
                          "<tr><td>服务器列表：</td><td>%6</td></tr>"
                          "</table>"
                          "<p>Qt %7</p>")
        .arg(QStringLiteral(CHENGLAN_VERSION), s.odds.toHtmlEscaped(), s.analysis.toHtmlEscaped(),
             s.detail.toHtmlEscaped(), s.service.toHtmlEscaped(), s.serverList.toHtmlEscaped(),
             QString::fromLatin1(qVersion()));
}

void addHelpCommands(MainWindow *window) {
    QMenu *menu = helpMenu(window);
    QAction *explain = menu->addAction(QStringLiteral("读懂分析结果"), window, [window] {
        auto *dialog = new QDialog(window);
        dialog->setObjectName(QStringLiteral("explanation"));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowTitle(QStringLiteral("读懂分析结果"));
        auto *layout = new QVBoxLayout(dialog);
        auto *page = new QTextBrowser(dialog);
        page->setHtml(explanationPage());
        layout->addWidget(page);
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
        buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("关闭"));
        QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
        layout->addWidget(buttons);
        dialog->resize(ExplanationSize.boundedTo(window->size()));
        dialog->show();
    });
    explain->setShortcut(QKeySequence::HelpContents);
    menu->addAction(QStringLiteral("关于"), window,
                    [window] { QMessageBox::about(window, QStringLiteral("关于澄岚竞彩"), aboutText(window)); });
}

} // namespace chenglan
