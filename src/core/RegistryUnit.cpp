#include "core/RegistryUnit.h"

#include "core/BaseUtils.h"
#include "core/RegistryEnhanced.h"

TMyRegistryClass::TMyRegistryClass()
{
    Section = QStringLiteral("Vorlix");
    AddItem(QStringLiteral("MsgHeaderHeight"), rlSection, QString(), 311, rkInteger);
    AddItem(QStringLiteral("MsgPanelWidth"), rlSection, QString(), 670, rkInteger);
    // The server tree's width beside "MsgPanelWidth", so a wider window gives its extra width
    // to the article view; 0 until a session ends: the tree then takes what the panel leaves
    // of the window's first size.
    AddItem(QStringLiteral("MsgTreeWidth"), rlSection, QString(), 0, rkInteger);
    AddItem(QStringLiteral("MsgHeaderWidth0"), rlSection, QString(), 36, rkInteger);
    AddItem(QStringLiteral("MsgHeaderWidth1"), rlSection, QString(), 341, rkInteger);
    AddItem(QStringLiteral("MsgHeaderWidth2"), rlSection, QString(), 146, rkInteger);
    AddItem(QStringLiteral("MsgHeaderWidth3"), rlSection, QString(), 139, rkInteger);
    AddItem(QStringLiteral("MsgHeaderWidth4"), rlSection, QString(), 36, rkInteger);
    AddItem(QStringLiteral("MsgsToRetrieve"), rlSection, QString(), 100, rkInteger);
    AddItem(QStringLiteral("NewsServer"), rlSection, QString(), QString(), rkString);
    AddItem(QStringLiteral("ThreadFileOption"), rlSection, QString(), 0, rkInteger);
    AddItem(QStringLiteral("MsgDeleteDays"), rlSection, QString(), 30, rkInteger);
    AddItem(QStringLiteral("UserName"), rlSection, QString(), QString(), rkString);
    AddItem(QStringLiteral("EmailAddress"), rlSection, QString(), QString(), rkString);
    AddItem(QStringLiteral("ReplyToAddress"), rlSection, QString(), QString(), rkString);
    AddItem(QStringLiteral("AutoLoadNewsgroups"), rlSection, QString(), true, rkBoolean);
    // The message pane shows bodies in the fixed-width font.
    AddItem(QStringLiteral("MessageFixedFont"), rlSection, QString(), false, rkBoolean);
    // A PEM file of certificate authorities trusted for news servers besides the system's (for
    // a server with a certificate of its own making); empty for none.
    AddItem(QStringLiteral("NewsCAFile"), rlSection, QString(), QString(), rkString);
    // Limits of one NNTP request against a server that never stops sending: the most data a
    // multi-line answer (an article, a body, the group list) may bring, in bytes (64 MB), and
    // the longest a request may take from its command to the end of its answer, in seconds
    // (10 minutes), however steadily the server drips. 0 or less selects these defaults.
    AddItem(QStringLiteral("MaxArticleBytes"), rlSection, QString(), 64 * 1024 * 1024, rkInteger);
    AddItem(QStringLiteral("RequestTimeout"), rlSection, QString(), 600, rkInteger);
    // vorlix render keeps a podcast feed of the output folder at every render (as --feed
    // does), with its enclosures at this address when the folder is served by another web
    // server (empty: the files on this machine).
    AddItem(QStringLiteral("PodcastFeed"), rlSection, QString(), false, rkBoolean);
    AddItem(QStringLiteral("PodcastBaseUrl"), rlSection, QString(), QString(), rkString);
}

void TMyRegistryClass::LoadAll()
{
    TBaseRegistryClass::LoadAll();
    NewsServer = GetValue(QStringLiteral("NewsServer")).toString();
    ThreadFileOption = GetValue(QStringLiteral("ThreadFileOption")).toInt();
}

void TMyRegistryClass::SaveAll()
{
    SetValue(QStringLiteral("NewsServer"), NewsServer);
    SetValue(QStringLiteral("ThreadFileOption"), ThreadFileOption);
    TBaseRegistryClass::SaveAll();
}

QString WindowPlacementKey(const QString& windowName)
{
    return RegistryRoot + QStringLiteral("\\Windows\\") + UtilsClass::GetProgramFileName() + QLatin1Char('\\')
        + windowName;
}

QString ReadProgramValue(const QString& name)
{
    return TRegistryEnhanced(RegistryRoot + QStringLiteral("\\Programs\\") + UtilsClass::GetProgramFileName())
        .ReadValue(name)
        .toString();
}

void WriteProgramValue(const QString& name, const QString& value)
{
    TRegistryEnhanced(RegistryRoot + QStringLiteral("\\Programs\\") + UtilsClass::GetProgramFileName())
        .WriteValue(name, value);
    TRegistryEnhanced::Flush();
}
