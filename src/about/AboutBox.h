#pragma once
#include "about/AboutSplash.h"

// The Help > About window: the splash layout titled " About " plus the application title; a click on
// the form or any of its pictures and labels closes it. Usage from a menu handler:
//     TFormAboutBox box;   // no owner: centred on the screen, stays on top
//     box.exec();
class TFormAboutBox : public TFormAboutSplash {
    Q_OBJECT
public:
    explicit TFormAboutBox(QWidget* Owner = nullptr);
    ~TFormAboutBox() override;

public slots:
    // Closes the window, which ends its modal display.
    void FormClick();

protected:
    void FormShow() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The about box while it exists (set by its constructor, cleared by its destructor).
extern TFormAboutBox* FormAboutBox;
