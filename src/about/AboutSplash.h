#pragma once
#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QLabel;
class QWidget;
namespace Ui {
class FormAboutSplash;
}

// The fixed file information of a program: the parts the about box uses.
struct TFixedFileInfo {
    uint32_t FileVersionMS = 0; // major << 16 | minor
    uint32_t FileVersionLS = 0; // release << 16 | build
    uint32_t FileFlagsMask = 0;
    uint32_t FileFlags = 0; // VersionFileFlag::PreRelease marks a pre-release build
};

namespace VersionFileFlag {
inline constexpr uint32_t PreRelease = 0x2;
}

// Where ReadFixedFileInfo takes the information of a file from; returns false when there is none.
using TVersionInfoSource = std::function<bool(const std::string& FileName, TFixedFileInfo& Info)>;

// The information compiled into this program: the project version (major.minor.release.build) and the
// pre-release option of the build.
TFixedFileInfo BuildFixedFileInfo();

// The layout of the about window: logo, application title, version and, on pre-release builds, the build
// number. The texts are filled each time the window is shown; the application title is
// QCoreApplication::applicationName(), which the program entry sets.
class TFormAboutSplash : public QDialog {
    Q_OBJECT
public:
    explicit TFormAboutSplash(QWidget* Owner = nullptr);
    ~TFormAboutSplash() override;

    // Fills Info from the current version source when it has information for FileName; else leaves it.
    static void ReadFixedFileInfo(const std::string& FileName, TFixedFileInfo& Info);
    // Test seam: replaces the version source (an empty function restores BuildFixedFileInfo for every
    // file). Returns the previous source.
    static TVersionInfoSource SetVersionInfoSource(TVersionInfoSource Source);

    // Components, owned by the form.
    QWidget* Panel1 = nullptr;
    QLabel* ImageLogo = nullptr;
    QLabel* LabelVersion = nullptr;
    QLabel* LabelBuild = nullptr;
    QLabel* LabelCopyright = nullptr;
    QLabel* LabelTitle = nullptr;

protected:
    void BuildVersionTexts();
    // Fills the labels; runs whenever the window is shown.
    virtual void FormShow();
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::FormAboutSplash> ui;
    std::string FVersionText;
    std::string FBuildText;
};
