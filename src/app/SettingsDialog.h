#pragma once

#include "app/AppSettings.h"
#include "net/Web.h"

#include <QDialog>
#include <QHash>

#include <memory>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QThread;

namespace chenglan {

struct DoctorTask;

// 设置: the site and service addresses and the fetching-ahead switch. Each
// address is checked as the command line checks it (siteOverrideProblem) while it is
// typed; 确定 stays off while one is wrong. An address given on the command
// line for this run is shown as such and cannot be edited here. 测试 runs the
// site doctor's checks on the typed addresses on a worker thread and shows
// what it found.
class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    SettingsDialog(const SiteBases &stored, bool fetchAhead, const CommandLineSites &overrides, WebFactory webs,
                   QWidget *parent = nullptr);
    ~SettingsDialog() override;

    // The addresses as typed (overridden ones as stored), and the switch.
    SiteBases sites() const;
    bool fetchAhead() const;

    QLineEdit *addressEdit(const QString &key) const { return m_edits.value(key); }
    QPushButton *testButton() const { return m_test; }
    QString testResult() const;
    bool testRunning() const { return m_thread != nullptr; }

signals:
    void testFinished();

private:
    void checkAddresses();
    void startTest();
    void stopTest();

    SiteBases m_stored;
    CommandLineSites m_overrides;
    WebFactory m_webs;
    QHash<QString, QLineEdit *> m_edits;
    QCheckBox *m_fetchAhead = nullptr;
    QLabel *m_problem = nullptr;
    QPushButton *m_test = nullptr;
    QLabel *m_testHeadline = nullptr;
    QPlainTextEdit *m_testDetails = nullptr;
    QDialogButtonBox *m_buttons = nullptr;
    QThread *m_thread = nullptr;
    std::shared_ptr<DoctorTask> m_task;
};

} // namespace chenglan
