#pragma once

#include <QDialog>

// The About box: the two logger firmware builds the tool carries.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};
