#pragma once
// The text a voice speaks for one article, read from the article's MIME structure (GMime):
// text parts decoded with their charset, HTML turned into plain text, and every part that is
// not text (pictures, programs, uuencoded or yEnc files, long base64 runs) left out with one
// short spoken sentence that says what was not read. A text of more than a megabyte is cut.
// Safe to call from several threads at once.
#include <QString>
#include <QStringList>

// The text a voice speaks for one article, read from the article's MIME structure.
struct TSpokenArticle {
    QString Text;        // what is spoken of the body
    QStringList Skipped; // one short spoken sentence per part that was left out (also inside Text)
};

// lines: as the speaking processor delivers them: either a whole article (header lines, one
// empty line, body lines) when hasHeaders, or only body lines.
TSpokenArticle SpokenArticleText(const QStringList& lines, bool hasHeaders);

// "An attachment of 2 megabytes, picture.jpg, is not read." (no name: without it).
QString SkippedSentence(qint64 bytes, const QString& name);

// Plain text made of HTML: tags dropped, scripts, styles and the title left out, line breaks at
// <br> and block elements, entities decoded. Takes time in proportion to the length of html,
// however broken it is.
QString HtmlToText(const QString& html);

// The longest text spoken of one article, in characters.
constexpr qsizetype MaxSpokenText = 1024 * 1024;
