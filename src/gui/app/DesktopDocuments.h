#pragma once
#include <QString>

// Opens a file path or web address with the desktop's default handler.
void OpenDocument(const QString& target);
