#include "about/AboutSplash.h"
#include "ui_AboutSplash.h"

#include "BuildVersion.h"

#include <QCoreApplication>
#include <QScreen>
#include <QShowEvent>
#include <cstdio>
#include <utility>

// Resources of a static library are registered explicitly.
static void initAboutResources()
{
    Q_INIT_RESOURCE(AboutLogo);
}

namespace {
TVersionInfoSource& versionInfoSource()
{
    static TVersionInfoSource source;
    return source;
}

QFont pixelFont(const char* family, int pixels, bool bold = false, bool italic = false)
{
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

void paint(QWidget* widget, QPalette::ColorRole role, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

template <typename... Args> std::string format(const char* pattern, Args... values)
{
    char text[64];
    // The patterns are the literals below; the values are ints.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(text, sizeof text, pattern, values...);
#pragma GCC diagnostic pop
    return text;
}
} // namespace

TFixedFileInfo BuildFixedFileInfo()
{
    TFixedFileInfo info;
    info.FileVersionMS = uint32_t(VELMORA_VERSION_MAJOR) << 16 | uint32_t(VELMORA_VERSION_MINOR);
    info.FileVersionLS = uint32_t(VELMORA_VERSION_RELEASE) << 16 | uint32_t(VELMORA_VERSION_BUILD);
    info.FileFlagsMask = VersionFileFlag::PreRelease;
    info.FileFlags = VELMORA_PRERELEASE_BUILD ? VersionFileFlag::PreRelease : 0;
    return info;
}

TVersionInfoSource TFormAboutSplash::SetVersionInfoSource(TVersionInfoSource Source)
{
    return std::exchange(versionInfoSource(), std::move(Source));
}

void TFormAboutSplash::ReadFixedFileInfo(const std::string& FileName, TFixedFileInfo& Info)
{
    if (const auto& source = versionInfoSource()) {
        TFixedFileInfo found;
        if (source(FileName, found))
            Info = found;
    } else {
        Info = BuildFixedFileInfo();
    }
}

TFormAboutSplash::TFormAboutSplash(QWidget* Owner)
    : QDialog(Owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      ui(std::make_unique<Ui::FormAboutSplash>())
{
    initAboutResources();
    ui->setupUi(this);
    Panel1 = ui->Panel1;
    ImageLogo = ui->ImageLogo;
    LabelVersion = ui->LabelVersion;
    LabelBuild = ui->LabelBuild;
    LabelCopyright = ui->LabelCopyright;
    LabelTitle = ui->LabelTitle;

    setFixedSize(408, 208);
    setAutoFillBackground(true);
    paint(this, QPalette::Window, palette().color(QPalette::Active, QPalette::Highlight));
    paint(Panel1, QPalette::Window, QColor(0, 0, 128));

    LabelTitle->setFont(pixelFont("Arial", 19, true, true));
    LabelTitle->setAutoFillBackground(false);
    paint(LabelTitle, QPalette::WindowText, palette().color(QPalette::Active, QPalette::WindowText));
    LabelTitle->hide();

    LabelVersion->setFont(pixelFont("Microsoft Sans Serif", 13));
    LabelBuild->setFont(pixelFont("MS Sans Serif", 13));
    LabelCopyright->setFont(pixelFont("Arial", 9));
    for (QLabel* label : {LabelVersion, LabelBuild, LabelCopyright}) {
        label->setAutoFillBackground(true);
        paint(label, QPalette::Window, Qt::white);
        paint(label, QPalette::WindowText, label == LabelBuild ? Qt::red : Qt::black);
    }

    setCursor(Qt::WaitCursor);
    for (QWidget* control :
         {Panel1, static_cast<QWidget*>(ImageLogo), static_cast<QWidget*>(LabelVersion),
          static_cast<QWidget*>(LabelBuild), static_cast<QWidget*>(LabelCopyright), static_cast<QWidget*>(LabelTitle)})
        control->setCursor(Qt::WaitCursor);
}

TFormAboutSplash::~TFormAboutSplash() = default;

void TFormAboutSplash::BuildVersionTexts()
{
    TFixedFileInfo info; // zeros when the program carries no version information
    ReadFixedFileInfo(QCoreApplication::applicationFilePath().toLocal8Bit().toStdString(), info);
    FVersionText = format("Version %d.%.1d.%.1d", int(info.FileVersionMS >> 16), int(info.FileVersionMS & 0xFFFF),
                          int(info.FileVersionLS >> 16));
    if (info.FileFlags & VersionFileFlag::PreRelease)
        FBuildText = format("BETA %d", int(info.FileVersionLS & 0xFFFF));
    else
        FBuildText.clear();
}

void TFormAboutSplash::FormShow()
{
    BuildVersionTexts();
    LabelTitle->setText(QCoreApplication::applicationName());
    LabelTitle->show();
    LabelVersion->setText(QString::fromLocal8Bit(FVersionText.c_str()));
    LabelBuild->setText(QString::fromLocal8Bit(FBuildText.c_str()));
}

void TFormAboutSplash::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        if (const QScreen* screen = this->screen())
            move(screen->availableGeometry().center() - rect().center());
        FormShow();
    }
    QDialog::showEvent(event);
}
