#include "app/SettingsDialog.h"

#include "usecases/SiteDoctor.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <mutex>

namespace chenglan {

// The Web of a running test, so that closing the dialog can abort it.
struct DoctorTask {
    std::mutex mutex;
    Web *web = nullptr;
    bool aborted = false;
    DoctorReport report;
    QString failure;
};

namespace {

constexpr int AddressEditWidth = 360;

QString headline(const DoctorReport &report) {
    int failed = 0;
    for (const PageCheck &p : report.pages)
        failed += p.ok() ? 0 : 1;
    if (failed == 0)
        return QStringLiteral("检查通过：%1 个页面都能正常读取。").arg(report.pages.size());
    return QStringLiteral("有 %1 个页面（共 %2 个）不能正常读取，详情见下。").arg(failed).arg(report.pages.size());
}

} // namespace

SettingsDialog::SettingsDialog(const SiteBases &stored, bool fetchAhead, const CommandLineSites &overrides,
                               WebFactory webs, QWidget *parent)
    : QDialog(parent), m_stored(stored), m_overrides(overrides), m_webs(std::move(webs)) {
    setObjectName(QStringLiteral("settingsDialog"));
    setWindowTitle(QStringLiteral("设置"));
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    for (const SiteField &f : siteFields()) {
        auto *edit = new QLineEdit(stored.*f.member, this);
        edit->setObjectName(f.key);
        edit->setMinimumWidth(AddressEditWidth);
        if (overrides.contains(f.key)) {
            edit->setText(overrides.value(f.key));
            edit->setReadOnly(true);
            edit->setEnabled(false);
            edit->setToolTip(
                QStringLiteral("本次运行由命令行 --%1 指定；保存的地址是 %2").arg(f.option, stored.*f.member));
        }
        connect(edit, &QLineEdit::textChanged, this, &SettingsDialog::checkAddresses);
        m_edits.insert(f.key, edit);
        form->addRow(f.label + u'：', edit);
    }
    layout->addLayout(form);
    QStringList fixed;
    for (const SiteField &f : siteFields())
        if (overrides.contains(f.key))
            fixed << f.label;
    if (!fixed.isEmpty()) {
        auto *note = new QLabel(
            QStringLiteral("%1由命令行指定，本次运行中不能在这里更改。").arg(fixed.join(QStringLiteral("、"))), this);
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setStyleSheet(QStringLiteral("color: #c00000"));
    m_problem->setWordWrap(true);
    layout->addWidget(m_problem);

    m_fetchAhead = new QCheckBox(QStringLiteral("列表显示后，提前读取各场比赛的页面（点击后更快出结果）"), this);
    m_fetchAhead->setObjectName(QStringLiteral("fetchAhead"));
    m_fetchAhead->setChecked(fetchAhead);
    layout->addWidget(m_fetchAhead);

    auto *testRow = new QHBoxLayout;
    m_test = new QPushButton(QStringLiteral("测试"), this);
    m_test->setObjectName(QStringLiteral("test"));
    m_test->setToolTip(QStringLiteral("用上面的地址读取每种页面各一次，看能否正常读取"));
    connect(m_test, &QPushButton::clicked, this, &SettingsDialog::startTest);
    m_testHeadline = new QLabel(this);
    m_testHeadline->setWordWrap(true);
    testRow->addWidget(m_test);
    testRow->addWidget(m_testHeadline, 1);
    layout->addLayout(testRow);
    m_testDetails = new QPlainTextEdit(this);
    m_testDetails->setReadOnly(true);
    m_testDetails->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_testDetails->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_testDetails->hide();
    layout->addWidget(m_testDetails, 1);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    m_buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(m_buttons);
    checkAddresses();
}

SettingsDialog::~SettingsDialog() { stopTest(); }

SiteBases SettingsDialog::sites() const {
    SiteBases sites = m_stored;
    for (const SiteField &f : siteFields())
        if (!m_overrides.contains(f.key))
            sites.*f.member = m_edits.value(f.key)->text().trimmed();
    return sites;
}

bool SettingsDialog::fetchAhead() const { return m_fetchAhead->isChecked(); }

QString SettingsDialog::testResult() const { return m_testHeadline->text() + u'\n' + m_testDetails->toPlainText(); }

void SettingsDialog::checkAddresses() {
    QStringList wrong;
    for (const SiteField &f : siteFields()) {
        QLineEdit *edit = m_edits.value(f.key);
        const bool ok = siteAddressProblem(f, edit->text().trimmed()).isEmpty();
        edit->setStyleSheet(ok ? QString() : QStringLiteral("background: #ffe0e0"));
        if (!ok)
            wrong << f.label;
    }
    m_problem->setText(wrong.isEmpty() ? QString()
                                       : QStringLiteral("%1：需要以 http:// 或 https:// 开头、以“/”结尾的地址，"
                                                        "例如 http://127.0.0.1:18080/odds/")
                                             .arg(wrong.join(QStringLiteral("、"))));
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(wrong.isEmpty());
    m_test->setEnabled(wrong.isEmpty() && !m_thread);
}

void SettingsDialog::startTest() {
    if (m_thread || !m_webs)
        return;
    m_test->setEnabled(false);
    m_testHeadline->setText(QStringLiteral("正在读取各网站的页面……"));
    m_testDetails->hide();
    auto task = std::make_shared<DoctorTask>();
    m_task = task;
    const SiteBases sites = withOverrides(this->sites(), m_overrides);
    const WebFactory webs = m_webs;
    m_thread = QThread::create([task, sites, webs] {
        std::unique_ptr<Web> web = webs();
        {
            const std::lock_guard lock(task->mutex);
            if (task->aborted)
                web->abort();
            task->web = web.get();
        }
        try {
            task->report = diagnoseSites(*web, sites, PageRenderer());
        } catch (const StepFailure &failure) {
            task->failure = failure.message();
        }
        const std::lock_guard lock(task->mutex);
        task->web = nullptr;
    });
    connect(m_thread, &QThread::finished, this, [this, task] {
        m_thread->deleteLater();
        m_thread = nullptr;
        m_task.reset();
        if (task->failure.isEmpty()) {
            m_testHeadline->setText(headline(task->report));
            m_testDetails->setPlainText(doctorTable(task->report));
        } else {
            m_testHeadline->setText(QStringLiteral("测试没有完成。"));
            m_testDetails->setPlainText(task->failure);
        }
        m_testDetails->show();
        checkAddresses();
        emit testFinished();
    });
    m_thread->start();
}

// Aborts a running test and waits for its thread, whose fetches then end at once.
void SettingsDialog::stopTest() {
    if (!m_thread)
        return;
    {
        const std::lock_guard lock(m_task->mutex);
        m_task->aborted = true;
        if (m_task->web)
            m_task->web->abort();
    }
    disconnect(m_thread, nullptr, this, nullptr);
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

} // namespace chenglan
