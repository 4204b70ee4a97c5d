#pragma once
// The message pane: a header block (From, Date, Newsgroups, Subject) above the article body.
// Web addresses in the body can be clicked, quoted lines are coloured by their depth, and the
// body can use the fixed-width font. The body stays plain text, so long articles show fast.
#include <QColor>
#include <QString>
#include <QStringView>
#include <QWidget>

class QLabel;
class QTextBrowser;

class TMessagePane : public QWidget {
    Q_OBJECT
public:
    explicit TMessagePane(QWidget* parent = nullptr);

    // Shows the header block; it stays hidden until the first call after Clear.
    void SetHeader(const QString& from, const QString& date, const QString& newsgroups, const QString& subject);
    void SetBody(const QString& text);
    // Empties the body and hides the header block.
    void Clear();
    void SetFixedFont(bool fixed);

    // How deeply a line is quoted: the number of ">" at its start, blanks between them allowed.
    static int QuoteLevel(QStringView line);
    // The colour of a quote level (1 and up) on a background of the given lightness.
    static QColor QuoteColour(int level, bool darkBackground);

    QLabel* Header;
    QTextBrowser* Body;

    // Colours the quoted lines in view and a screen below it.
    void colourVisibleQuotes();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void markLinks();
};
