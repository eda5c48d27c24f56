// The upload settings dialog: the page "Ftp Server" with the tabs Basic
// (server, port, user, password and whether the project keeps it, account,
// remote folder, security: plain FTP, explicit or implicit TLS), Extension (the
// text-file extensions) and Option (passive mode, the firewall log-in, and
// how the site is published: sync mode, connections, stall timeout). It
// shows the project's Setup/Ftp settings; OK writes them back and saves
// ProjectDef.prj at once, Cancel (or Escape) writes nothing.
//
// The widgets' object names are the form's control names (Text1(1) to
// Text1(6), Label2(0) to Label2(6), Combo4 (security), Check6 (don't store
// the password), Text3, Label4(0), Check3, Check4,
// Combo3, Text2(0) to Text2(2), Label3(0) to Label3(3), Check5, Text4(0),
// Text4(1), Label5(0), Label5(1), SSTab1, SSTab2, Command1(0) OK and
// Command1(1) Cancel).
#pragma once

#include <QDialog>
#include <array>

#include "generator/project/project_context.h"
#include "generator/upload/ftp_settings.h"
#include "generator/upload/publish_options.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace quill {

class Prompter;

class frmSetup : public QDialog {
  Q_OBJECT

 public:
  // Reads the captions below the caption document's node frmSetup (a
  // missing one raises the store's error: the dialog cannot open) and shows
  // the settings of context.setupNode.
  frmSetup(const ProjectContext& context, Prompter& prompter, QWidget* parent = nullptr);

  // The firewall entries of Combo3, in the order of their stored index.
  static const std::array<const char*, 4> kFirewallTypes;

  // OK: writes the settings and saves the project file. On failure the
  // error is shown and the dialog stays open.
  void accept() override;

 private:
  QWidget* makeBasicTab();
  QWidget* makeExtensionTab();
  QWidget* makeOptionTab();
  void loadCaptions(const DomNodeRef& formsNode);
  void showSettings(const FtpSettings& settings);
  FtpSettings settingsShown() const;
  void showPublishOptions(const PublishOptions& options);
  PublishOptions publishOptionsShown() const;
  void enableFirewallFields();
  void showSecurity(const SecurityOptions& options);
  SecurityOptions securityShown() const;
  void securityChosen(int index);

  const ProjectContext& context_;
  Prompter& prompter_;

  QLabel* pageTitle_;                          // SSTab1: "Ftp Server"
  QTabWidget* tabs_;                           // SSTab2: Basic, Extension, Option
  std::array<QLabel*, 7> serverLabels_{};      // Label2(0) .. Label2(6)
  std::array<QLineEdit*, 6> serverFields_{};   // Text1(1) .. Text1(6)
  QComboBox* security_ = nullptr;              // Combo4: "", "explicit", "implicit"
  QCheckBox* askPassword_ = nullptr;           // Check6
  QLabel* extensionsLabel_ = nullptr;          // Label4(0)
  QLineEdit* extensions_ = nullptr;            // Text3
  QCheckBox* passiveMode_ = nullptr;           // Check3
  QCheckBox* firewall_ = nullptr;              // Check4
  std::array<QLabel*, 4> firewallLabels_{};    // Label3(0) .. Label3(3)
  QComboBox* firewallType_ = nullptr;          // Combo3
  std::array<QLineEdit*, 3> firewallFields_{}; // Text2(0) .. Text2(2)
  QCheckBox* syncMode_ = nullptr;              // Check5
  QSpinBox* connections_ = nullptr;            // Text4(0)
  QSpinBox* stallTimeout_ = nullptr;           // Text4(1)
  std::array<QLabel*, 2> publishLabels_{};     // Label5(0), Label5(1)
  QPushButton* okButton_;                      // Command1(0)
  QPushButton* cancelButton_;                  // Command1(1)
};

}  // namespace quill
