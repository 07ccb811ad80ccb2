// The configuration editor of a console attached to a real gateway, as the
// administrator meets it: a loaded account copy is written to Brindlex.ini and
// put in force like any other change (and a copy that holds nothing is
// refused), a refused apply leaves the file and the running services as they
// were, the editor refuses a value with the words `brindlex --check` would
// print about it, and every key of section "System" has its control.
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <string>

#include "console/editor_pages.h"
#include "console/qt/config_page.h"
#include "core/ini_file.h"
#include "core/settings.h"
#include "core/strings.h"
#include "core/users.h"
#include "tests/integration/account_sections.h"
#include "tests/qt/attached_gateway.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

// Picks `path` in the file dialog that opens next.
class FileChoice {
 public:
  explicit FileChoice(std::string path) : path_(std::move(path)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      ++shown;
      // Typed into the name field, as a person would: a selection made
      // before the dialog has listed its folder gives way to the default name.
      if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit"))
        name->setText(QString::fromStdString(path_));
      else
        dialog->selectFile(QString::fromStdString(path_));
      chosen = dialog->selectedFiles().join(",").toStdString();
      static_cast<QDialog*>(dialog)->accept();
    });
    timer_.start(10);
  }
  int shown = 0;
  std::string chosen;  // what the dialog took

 private:
  std::string path_;
  QTimer timer_;
};

// What `brindlex --check` says of one line of section "System": the text
// after "<key>: " on the line that names the key, or the whole output when
// no line does.
std::string CheckWords(const std::string& key, const std::string& value) {
  const std::string home = MakeProgramFolder("[System]\r\n" + key + "=" + value + "\r\n");
  const std::string output = RunProgram("BRINDLEX_HOME='" + home + "' '" BRINDLEX_BINARY "' --check 2>&1");
  RemoveFolder(home);
  const std::string marker = "] " + key + ": ";
  const size_t at = output.find(marker);
  if (at == std::string::npos) return output;
  const size_t start = at + marker.size();
  return output.substr(start, output.find('\n', start) - start);
}

// The name a user's record has in the settings file.
std::string NameInFile(const std::string& home, const std::string& login) {
  const IniDocument document = LoadIniFile(home + "/Brindlex.ini");
  const std::string* record = FindValue(document, kUsersSection, login);
  if (record == nullptr) return "<absent>";
  UserRecord user;
  ParseUserRecord(*record, user);
  return user.name;
}

class ConsoleEditor : public ::testing::Test {
 protected:
  // The gateway with one login user, and its configuration page shown.
  void Open(const std::string& systemLines) {
    UserRecord anna = LoginUser("anna", "secret");
    anna.name = "Anna";
    attached_ = std::make_unique<AttachedWindow>(systemLines, AccountSections({anna}));
    ASSERT_TRUE(attached_->up) << attached_->gateway.process->Output();
    attached_->form.resize(1000, 620);
    attached_->form.Pages()->setCurrentWidget(attached_->form.Config());
    page_ = attached_->form.Config();
    ASSERT_EQ(page_->Editor().Selected(), (EditorNode{NodeKind::kPage, kPageUsers}));
  }

  std::string Ini() const { return attached_->gateway.home + "/Brindlex.ini"; }
  std::string Stored(const char* key) const {
    const IniDocument document = LoadIniFile(Ini());
    const std::string* value = FindValue(document, "System", key);
    return value ? *value : "<absent>";
  }
  ConsoleEngine& Engine() { return attached_->link.Engine(); }
  std::string UserName(const std::string& login) {
    for (const ConsoleUser& user : Engine().Users().users)
      if (user.login == login && !user.deleted) return user.name;
    return "<none>";
  }

  QWidget* Shown() { return page_->findChild<QStackedWidget*>()->currentWidget(); }
  QLineEdit* Edit(const char* name) { return page_->findChild<QLineEdit*>(name); }
  void TypeInto(const char* name, const QString& text) {
    QLineEdit* edit = Edit(name);
    ASSERT_NE(edit, nullptr) << name;
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
  }
  QPushButton* Button(QWidget* within, int textId) {
    for (QPushButton* button : within->findChildren<QPushButton*>())
      if (button->text().toStdString() == Str(textId)) return button;
    return nullptr;
  }
  void Apply() {
    ASSERT_TRUE(page_->ApplyButton()->isEnabled());
    QTest::mouseClick(page_->ApplyButton(), Qt::LeftButton);
  }

  std::unique_ptr<AttachedWindow> attached_;
  ConfigPage* page_ = nullptr;
};

TEST_F(ConsoleEditor, ALoadedCopyIsWrittenToTheFileAndOutlivesTheNextApply) {
  Open("");
  UserRecord copied = LoginUser("anna", "secret");
  copied.name = "Anna from the copy";
  const std::string copy = attached_->gateway.home + "/copy.ini";
  WriteFile(copy, AccountSections({copied}));
  QPushButton* load = Button(page_, 934);
  ASSERT_NE(load, nullptr);
  {
    FileChoice choice(copy);
    Answers answers;
    QTest::mouseClick(load, Qt::LeftButton);
    EXPECT_EQ(choice.shown, 1);
    EXPECT_EQ(choice.chosen, copy);
    EXPECT_TRUE(answers.questions.empty()) << answers.questions.front();
  }
  EXPECT_TRUE(PumpUntil([&] { return UserName("anna") == "Anna from the copy"; })) << UserName("anna");
  EXPECT_EQ(NameInFile(attached_->gateway.home, "anna"), "Anna from the copy");

  // Any later apply re-reads the file: the copy's name stays.
  page_->SelectNode({NodeKind::kPage, kPageHttp});
  TypeInto("EdCascadePort", "3128");
  Apply();
  EXPECT_FALSE(page_->ApplyButton()->isEnabled());
  EXPECT_EQ(Engine().ConfigValues({"EdCascadePort"}).at(0).text, "3128");
  EXPECT_EQ(UserName("anna"), "Anna from the copy");
  EXPECT_EQ(NameInFile(attached_->gateway.home, "anna"), "Anna from the copy");
}

TEST_F(ConsoleEditor, ACopyWithoutAccountsOfThisGatewayIsRefusedAndChangesNothing) {
  Open("");
  UserRecord stranger = LoginUser("boris", "secret");
  stranger.name = "Boris";
  const std::string copy = attached_->gateway.home + "/other.ini";
  WriteFile(copy, "[Users]\r\nboris=" + FormatUserRecord(stranger) + "\r\n");
  const std::string before = ReadFile(Ini());
  {
    FileChoice choice(copy);
    Answers answers;
    QTest::mouseClick(Button(page_, 934), Qt::LeftButton);
    EXPECT_EQ(choice.chosen, copy);
    ASSERT_EQ(answers.questions.size(), 1u);
    EXPECT_EQ(answers.questions[0], Str(1361));
  }
  EXPECT_EQ(ReadFile(Ini()), before);
  EXPECT_EQ(UserName("anna"), "Anna");
  EXPECT_EQ(UserName("boris"), "<none>");
}

TEST_F(ConsoleEditor, ARefusedApplyStoresNothingAndOpensNoPort) {
  const int ftpPort = FreePort();
  Open("EnableFtp=0\r\nFtpPort=" + std::to_string(ftpPort) + "\r\n");
  page_->SelectNode({NodeKind::kPage, kPageFtp});
  const std::string before = ReadFile(Ini());
  page_->findChild<QCheckBox*>("CbEnableFtp")->click();
  ASSERT_TRUE(page_->findChild<QCheckBox*>("CbEnableFtp")->isChecked());
  TypeInto("EdFtpPort", "abc");
  {
    Answers answers;
    Apply();
    ASSERT_EQ(answers.questions.size(), 1u);
    EXPECT_EQ(answers.questions[0], "\"abc\"- некорректное число");
  }
  EXPECT_TRUE(page_->ApplyButton()->isEnabled()) << "the page keeps its edits";
  EXPECT_EQ(ReadFile(Ini()), before);
  EXPECT_EQ(Engine().ConfigValues({"CbEnableFtp"}).at(0).text, "0");
  EXPECT_FALSE(PumpUntil([&] { return Accepts(ftpPort); }, 3s)) << "the FTP port " << ftpPort << " opened";

  // The same page with a port that reads opens it: the look above would
  // have seen an open port.
  TypeInto("EdFtpPort", QString::number(ftpPort));
  Apply();
  EXPECT_FALSE(page_->ApplyButton()->isEnabled());
  EXPECT_TRUE(PumpUntil([&] { return Accepts(ftpPort); })) << "nothing answers on " << ftpPort;
}

TEST_F(ConsoleEditor, TheEditorRefusesWhatTheCheckRefusesInItsWords) {
  Open("InInterface=127.0.0.1\r\n");
  const std::string before = ReadFile(Ini());

  page_->SelectNode({NodeKind::kPage, kPageInterfaces});
  {
    Answers answers("notanaddress");
    QTest::mouseClick(Button(Shown(), 111), Qt::LeftButton);
    EXPECT_EQ(page_->findChild<QListWidget*>("LbInInterface")->count(), 2);
    Apply();
    ASSERT_EQ(answers.questions.size(), 1u);
    EXPECT_EQ(answers.questions[0], CheckWords("InInterface", "127.0.0.1; notanaddress;"));
    EXPECT_NE(answers.questions[0].find("notanaddress"), std::string::npos) << answers.questions[0];
  }
  EXPECT_EQ(ReadFile(Ini()), before);
  EXPECT_EQ(Engine().ConfigValues({"LbInInterface"}).at(0).items, std::vector<std::string>{"127.0.0.1"});
  page_->CancelButton()->click();

  // A key of its own check: the time a client has for its request head.
  page_->SelectNode({NodeKind::kPage, kPageHttp});
  TypeInto("EdHeadTimeout", "-5");
  {
    Answers answers;
    Apply();
    ASSERT_EQ(answers.questions.size(), 1u);
    EXPECT_EQ(answers.questions[0], CheckWords("HeadTimeout", "-5"));
  }
  EXPECT_EQ(ReadFile(Ini()), before);
  TypeInto("EdHeadTimeout", "25");
  Apply();
  EXPECT_FALSE(page_->ApplyButton()->isEnabled());
  EXPECT_EQ(Stored("HeadTimeout"), "25");
}

TEST_F(ConsoleEditor, EveryKeyOfTheSystemSectionHasItsControl) {
  Open("");
  for (const SettingInfo& setting : SystemSettingTable()) {
    const std::string key = setting.key;
    QWidget* control = nullptr;
    for (const char* prefix : {"Ed", "Cb", "Co", "Lb"})
      if (control == nullptr) control = page_->findChild<QWidget*>(QString::fromStdString(prefix + key));
    EXPECT_NE(control, nullptr) << key << " has no control on the configuration page";
  }
}

}  // namespace
}  // namespace brindlex::testing
