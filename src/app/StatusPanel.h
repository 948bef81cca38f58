#pragma once
#include <QString>
#include <QWidget>

// A panel of the status bar: one line of text in the status bar's font, elided ("...") where it does not
// fit; its tooltip is the whole text.
class TStatusPanel : public QWidget {
    Q_OBJECT
public:
    explicit TStatusPanel(QWidget* parent = nullptr);

    QString text() const { return FText; }
    void setText(const QString& text);
    // The text as the panel's width shows it.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int Margin = 2; // each side of the text

    QString FText;
};
