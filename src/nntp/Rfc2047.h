#pragma once
// Header text with RFC 2047 encoded words: "=?UTF-8?Q?Gr=C3=BC=C3=9Fe?=" in a Subject or From
// line reads "Grüße". Decoding is lenient: a word that does not decode (bad Base64, bad hex,
// a charset nobody knows) stays exactly as it arrived. Encoding keeps plain ASCII untouched,
// so an ASCII header leaves this module byte for byte as it came in.
//
// GMime's own header decoder is not used for this: it drops the text of a word it cannot
// decode, reads a word of an unknown charset as if it were ASCII, and loses the second of two
// adjacent Base64 words that both end in padding ("=?UTF-8?B?w6Q=?= =?UTF-8?B?w7Y=?=" gives
// only "ä"). Nor its encoder: it leaves text that merely looks like an encoded word as it is,
// so readers would decode it, and its words differ from the ones Vorlix has always posted.
#include <QByteArray>
#include <QString>

// Raw header bytes: UTF-8 where they are valid UTF-8, else Latin-1; then the encoded words
// are decoded.
QString DecodeHeaderText(const QByteArray& raw);
// Text already turned into characters (for example an overview field); its encoded words are
// decoded. Whitespace between two adjacent encoded words is dropped, as the standard says.
QString DecodeHeaderText(const QString& text);

// Unstructured header text (Subject): returned unchanged when it is pure ASCII and nothing in
// it could be mistaken for an encoded word; otherwise the words holding other characters are
// written as UTF-8 encoded words of at most 75 characters each, the other words stay plain.
QString EncodeHeaderText(const QString& text);

// A mailbox for From: "name <address>", or "<address>" alone when the name is blank. A name
// beyond ASCII becomes encoded words; an ASCII name stays as typed.
QString EncodeMailbox(const QString& displayName, const QString& address);

// True when every character is 7-bit ASCII.
bool IsPureAscii(const QString& text);
