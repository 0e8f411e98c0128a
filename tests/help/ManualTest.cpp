// The manual beside the program: every page in both languages parses, links only to pages,
// anchors and pictures that exist, is reachable from the contents, and every help context the
// program uses leads to an existing page and anchor.
#include "app/HelpSystem.h"

#include "util/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <map>

namespace {

const QString HelpRoot = QStringLiteral(ONDRIX_BIN_DIR "/Help/");
const QStringList Languages = {"ru", "en"};

// What a page holds that the checks need: its anchors, its links and whatever would run.
struct TPage {
    QString Error;
    QSet<QString> Ids;
    QStringList Links;  // a href, img src, link href, as written
    QStringList Active;  // scripts, event attributes, javascript: addresses
    QString Title;
};

// Pages are written as well-formed XML (polyglot HTML), so a strict parser reads them and an
// unclosed element is an error here rather than a surprise in some browser.
TPage ReadPage(const QString& FileName)
{
    TPage Page;
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly)) {
        Page.Error = "cannot be read";
        return Page;
    }
    QXmlStreamReader Reader(&File);
    bool InTitle = false;
    while (!Reader.atEnd()) {
        const QXmlStreamReader::TokenType Token = Reader.readNext();
        if (Token == QXmlStreamReader::Characters && InTitle)
            Page.Title += Reader.text();
        if (Token == QXmlStreamReader::EndElement)
            InTitle = false;
        if (Token != QXmlStreamReader::StartElement)
            continue;
        const QString Name = Reader.name().toString().toLower();
        InTitle = Name == "title";
        if (Name == "script" || Name == "iframe" || Name == "object" || Name == "embed")
            Page.Active << Name;
        for (const QXmlStreamAttribute& Attribute : Reader.attributes()) {
            const QString Key = Attribute.name().toString().toLower();
            const QString Value = Attribute.value().toString();
            if (Key.startsWith("on") || Value.trimmed().startsWith("javascript:", Qt::CaseInsensitive))
                Page.Active << Name + " " + Key;
            if (Key == "id")
                Page.Ids.insert(Value);
            if ((Name == "a" && Key == "href") || (Name == "img" && Key == "src") || (Name == "link" && Key == "href"))
                Page.Links << Value;
        }
    }
    if (Reader.hasError())
        Page.Error = QString("line %1: %2").arg(Reader.lineNumber()).arg(Reader.errorString());
    return Page;
}

// Every page of a language folder, by file name.
std::map<QString, TPage> ReadLanguage(const QString& Language)
{
    std::map<QString, TPage> Pages;
    const QDir Folder(HelpRoot + Language);
    for (const QString& Name : Folder.entryList({"*.html"}, QDir::Files))
        Pages[Name] = ReadPage(Folder.filePath(Name));
    return Pages;
}

bool IsExternal(const QString& Link)
{
    const QString Scheme = QUrl(Link).scheme().toLower();
    return Scheme == "http" || Scheme == "https" || Scheme == "mailto";
}

TEST(ManualTest, EveryPageParsesAndRunsNothing)
{
    for (const QString& Language : Languages) {
        const auto Pages = ReadLanguage(Language);
        EXPECT_GE(Pages.size(), 10u) << Language.toStdString();
        for (const auto& [Name, Page] : Pages) {
            const std::string Where = (Language + "/" + Name).toStdString();
            EXPECT_TRUE(Page.Error.isEmpty()) << Where << ": " << Page.Error.toStdString();
            EXPECT_TRUE(Page.Active.isEmpty()) << Where << ": " << Page.Active.join(", ").toStdString();
            EXPECT_FALSE(Page.Title.trimmed().isEmpty()) << Where << " has no title";
        }
    }
}

TEST(ManualTest, LinksLeadToExistingPagesAnchorsAndPicturesAndReachEveryPage)
{
    for (const QString& Language : Languages) {
        const auto Pages = ReadLanguage(Language);
        ASSERT_TRUE(Pages.count("index.html")) << Language.toStdString();
        const QDir Folder(HelpRoot + Language);
        QSet<QString> Reached{"index.html"};
        QStringList Queue{"index.html"};
        while (!Queue.isEmpty()) {
            const QString From = Queue.takeFirst();
            for (const QString& Link : Pages.at(From).Links) {
                const std::string Where = (Language + "/" + From + " -> " + Link).toStdString();
                if (IsExternal(Link))
                    continue;
                const QUrl Url(Link);
                ASSERT_TRUE(Url.isRelative() && Url.scheme().isEmpty()) << Where;
                const QString Target = Url.path().isEmpty() ? From : QDir::cleanPath(Url.path());
                ASSERT_TRUE(QFileInfo(Folder.filePath(Target)).isFile()) << Where << ": no such file";
                if (!Target.endsWith(".html"))
                    continue;
                // Pages link within their own language folder only.
                ASSERT_TRUE(Pages.count(Target)) << Where;
                if (Url.hasFragment()) {
                    EXPECT_TRUE(Pages.at(Target).Ids.contains(Url.fragment())) << Where << ": no such anchor";
                }
                if (!Reached.contains(Target)) {
                    Reached.insert(Target);
                    Queue << Target;
                }
            }
        }
        for (const auto& [Name, Page] : Pages)
            EXPECT_TRUE(Reached.contains(Name)) << (Language + "/" + Name).toStdString() << " is not reachable from the contents";
    }
}

TEST(ManualTest, BothLanguagesHaveTheSamePagesAndAnchors)
{
    const auto Russian = ReadLanguage("ru");
    const auto English = ReadLanguage("en");
    ASSERT_EQ(Russian.size(), English.size());
    for (const auto& [Name, Page] : Russian) {
        ASSERT_TRUE(English.count(Name)) << Name.toStdString() << " has no English page";
        EXPECT_EQ(Page.Ids, English.at(Name).Ids) << Name.toStdString();
    }
}

TEST(ManualTest, EveryHelpContextLeadsToAnExistingPageAndAnchorInBothLanguages)
{
    for (const QString& Language : Languages) {
        const auto Pages = ReadLanguage(Language);
        for (const THelpTopic& Topic : Help::Topics()) {
            const std::string Where = Language.toStdString() + " context " + std::to_string(Topic.Context);
            const QUrl Url = Help::TopicUrl(HelpRoot, Language, Topic.Context);
            ASSERT_TRUE(Url.isLocalFile()) << Where;
            const QFileInfo File(Url.toLocalFile());
            EXPECT_TRUE(File.isFile()) << Where;
            EXPECT_EQ(File.dir().dirName(), Language) << Where;
            ASSERT_TRUE(Pages.count(File.fileName())) << Where;
            if (*Topic.Anchor) {
                EXPECT_TRUE(Pages.at(File.fileName()).Ids.contains(Url.fragment())) << Where << " #" << Topic.Anchor;
            }
        }
    }
    // Every part of a window that carries a context leads somewhere.
    for (const THelpPart& Part : Help::Parts())
        EXPECT_TRUE(Help::TopicUrl(HelpRoot, QString(), Part.Context).isValid()) << Part.Name;
}

TEST(ManualTest, TheLanguageFileNamesTheFolderOfItsPages)
{
    struct Case {
        const char* HelpFile;
        const char* Folder;
    };
    // The English language file names its own folder; anything that is not a folder of the
    // manual falls back to the built-in language's pages.
    const TIniFile English(QStringLiteral(ONDRIX_BIN_DIR "/Language/OndrixEnglish.lng"));
    const QString Named = English.ReadString("Language", "HelpFile", QString());
    EXPECT_EQ(Named, "en");
    const Case Cases[] = {{"en", "en"}, {"", "ru"}, {"ru", "ru"}, {"de", "ru"}, {"../Help/en", "ru"}, {" en ", "en"}};
    for (const Case& C : Cases)
        EXPECT_EQ(Help::LanguageFolder(HelpRoot, C.HelpFile), HelpRoot + C.Folder + "/") << C.HelpFile;
    EXPECT_TRUE(Help::LanguageFolder(QString(), "en").isEmpty());
    EXPECT_TRUE(Help::LanguageFolder(HelpRoot + "missing/", "en").isEmpty());
}

}  // namespace
