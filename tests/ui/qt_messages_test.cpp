#include "ui/qt_messages.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QThread>
#include <atomic>
#include <chrono>
#include <thread>

#include "window_fixture.h"

namespace {

// Records the boxes instead of showing them, and checks, while "the box is
// open", that it runs on the GUI thread and that the caller is still waiting.
class RecordingMessages : public QtMessages {
 public:
  std::atomic<bool> callerReturned{false};
  QString text;
  MessageIcon icon = MessageIcon::Warning;
  bool onGuiThread = false;
  bool callerWasWaiting = false;
  int shown = 0;

 protected:
  void present(const QString& message, MessageIcon kind) override {
    onGuiThread = QThread::currentThread() == QApplication::instance()->thread();
    RunEventsFor(50);  // keep the box "open" a while
    callerWasWaiting = !callerReturned;
    text = message;
    icon = kind;
    ++shown;
  }
};

TEST(QtMessagesTest, ACallFromAWorkerBlocksOnlyThatThreadUntilTheBoxCloses) {
  TestApp();
  RecordingMessages messages;
  std::thread worker([&] {
    messages.show("Upgrade failed,Make sure the device is connected well", MessageIcon::None);
    messages.callerReturned = true;
  });
  RunEventsFor(3000, [&] { return messages.callerReturned.load(); });
  worker.join();
  EXPECT_EQ(messages.shown, 1);
  EXPECT_TRUE(messages.onGuiThread);
  EXPECT_TRUE(messages.callerWasWaiting);
  EXPECT_EQ(messages.text, "Upgrade failed,Make sure the device is connected well");
  EXPECT_EQ(messages.icon, MessageIcon::None);
}

// A closing window shows no more boxes: a thread waiting for one is let go,
// so it can be stopped and joined without the box ever appearing.
TEST(QtMessagesTest, ClosingLetsAWaitingThreadGoWithoutABox) {
  TestApp();
  RecordingMessages messages;
  std::thread worker([&] {
    messages.show("HID接收错误!", MessageIcon::Warning);
    messages.callerReturned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // no events run meanwhile
  messages.closeForOtherThreads();
  worker.join();
  RunEventsFor(50);
  EXPECT_TRUE(messages.callerReturned);
  EXPECT_EQ(messages.shown, 0);
}

TEST(QtMessagesTest, ShowsAModalBoxWithOneOkButtonAndTheToolsName) {
  TestApp();
  QtMessages messages;
  struct Seen {
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::Information;
    int buttons = 0;
  };
  std::vector<Seen> seen;
  ModalCloser closer([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    seen.push_back({box->windowTitle(), box->text(), box->icon(),
                    static_cast<int>(box->buttons().size())});
    box->button(QMessageBox::Ok)->click();
  });
  messages.show("配置工具已经运行!\n请勿重复运行!");
  messages.show("DAT.SRC Checksum Error!", MessageIcon::None);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].caption, "thlogger-config");
  EXPECT_EQ(seen[0].text, QString::fromUtf8("配置工具已经运行!\n请勿重复运行!"));
  EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
  EXPECT_EQ(seen[0].buttons, 1);
  EXPECT_EQ(seen[1].icon, QMessageBox::NoIcon);
}

}  // namespace
