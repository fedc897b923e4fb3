// Telling each paragraph's language from its text and choosing the voice that speaks it, with
// the real detector: paragraphs in nineteen languages, short texts that keep the voice around
// them, and a choice that never depends on how much of the text had arrived.
#include "Chunker.h"
#include "Languages.h"

#include <QTest>

using parlivo::synth::AutomaticVoice;
namespace text = parlivo::text;

namespace {

struct Sample {
    const char *language;
    const char *voice;
    const char16_t *text;
};

// The same two sentences in each language: a walk to the market, then an hour in a café.
const Sample kSamples[] = {
    {"en", "espeak:en-us",
     u"The weather was pleasant this morning, so we walked along the river to the old market and "
     u"bought fresh bread. Then we sat in a café for an hour and watched the people go by."},
    {"nl", "espeak:nl",
     u"Het weer was vanochtend aangenaam, dus we liepen langs de rivier naar de oude markt en "
     u"kochten vers brood. Daarna zaten we een uur in een café en keken we naar de "
     u"voorbijgangers."},
    {"de", "espeak:de",
     u"Das Wetter war heute Morgen angenehm, also gingen wir am Fluss entlang zum alten Markt und "
     u"kauften frisches Brot. Danach saßen wir eine Stunde in einem Café und sahen den Leuten zu."},
    {"da", "espeak:da",
     u"Vejret var behageligt i morges, så vi gik langs floden til det gamle torv og købte frisk "
     u"brød. Bagefter sad vi en time på en café og så på folk, der gik forbi."},
    {"sv", "espeak:sv",
     u"Vädret var behagligt i morse, så vi promenerade längs floden till det gamla torget och "
     u"köpte färskt bröd. Sedan satt vi en timme på ett kafé och tittade på folk som gick förbi."},
    {"no", "espeak:nb",
     u"Været var behagelig i morges, så vi gikk langs elva til det gamle torget og kjøpte ferskt "
     u"brød. Etterpå satt vi en time på en kafé og så på folk som gikk forbi."},
    {"es", "espeak:es",
     u"El tiempo era agradable esta mañana, así que caminamos junto al río hasta el viejo mercado "
     u"y compramos pan fresco. Después nos sentamos una hora en un café y miramos pasar a la "
     u"gente."},
    {"pt", "espeak:pt",
     u"O tempo estava agradável esta manhã, então caminhámos ao longo do rio até ao mercado antigo "
     u"e comprámos pão fresco. Depois ficámos sentados uma hora num café a ver as pessoas passar."},
    {"it", "espeak:it",
     u"Il tempo era piacevole stamattina, quindi abbiamo camminato lungo il fiume fino al vecchio "
     u"mercato e abbiamo comprato pane fresco. Poi ci siamo seduti per un'ora in un caffè a "
     u"guardare la gente passare."},
    {"ca", "espeak:ca",
     u"El temps era agradable aquest matí, així que vam caminar al llarg del riu fins al mercat "
     u"vell i vam comprar pa fresc. Després vam seure una hora en un cafè i vam mirar com passava "
     u"la gent."},
    {"fr", "espeak:fr",
     u"Il faisait beau ce matin, alors nous avons marché le long de la rivière jusqu'au vieux "
     u"marché et acheté du pain frais. Ensuite, nous nous sommes assis une heure dans un café pour "
     u"regarder passer les gens."},
    {"fi", "espeak:fi",
     u"Sää oli tänä aamuna miellyttävä, joten kävelimme joen vartta vanhalle torille ja ostimme "
     u"tuoretta leipää. Sen jälkeen istuimme tunnin kahvilassa ja katselimme ohi kulkevia "
     u"ihmisiä."},
    {"pl", "espeak:pl",
     u"Pogoda była dziś rano przyjemna, więc poszliśmy wzdłuż rzeki na stary rynek i kupiliśmy "
     u"świeży chleb. Potem siedzieliśmy przez godzinę w kawiarni i patrzyliśmy na przechodzących "
     u"ludzi."},
    {"cs", "espeak:cs",
     u"Počasí bylo dnes ráno příjemné, tak jsme šli podél řeky na starý trh a koupili jsme čerstvý "
     u"chléb. Potom jsme hodinu seděli v kavárně a dívali se na lidi, kteří šli kolem."},
    {"ru", "espeak:ru",
     u"Сегодня утром погода была приятной, поэтому мы пошли вдоль реки на старый рынок и купили "
     u"свежий хлеб. Потом мы час сидели в кафе и смотрели на прохожих."},
    {"uk", "espeak:uk",
     u"Сьогодні вранці погода була приємною, тому ми пішли вздовж річки на старий ринок і купили "
     u"свіжий хліб. Потім ми годину сиділи в кав'ярні й дивилися на перехожих."},
    {"el", "espeak:el",
     u"Ο καιρός ήταν ευχάριστος σήμερα το πρωί, οπότε περπατήσαμε δίπλα στο ποτάμι μέχρι την παλιά "
     u"αγορά και αγοράσαμε φρέσκο ψωμί. Μετά καθίσαμε μια ώρα σε ένα καφέ και κοιτάζαμε τους "
     u"περαστικούς."},
    {"zh", "espeak:cmn",
     u"今天早上天气很好，所以我们沿着河边走到老市场，买了新鲜的面包。然后我们在咖啡馆里坐了一个小时"
     u"，看着人们来来往往。"},
    {"ja", "espeak:ja",
     u"今朝は天気がよかったので、川沿いを歩いて古い市場まで行き、焼きたてのパンを買いました。それか"
     u"ら喫茶店で一時間ほど座って、行き交う人々を眺めていました。"},
};

// What espeak-ng offers here, by the names its voices give for their languages.
AutomaticVoice makeChooser() {
    return AutomaticVoice("espeak:en-us",
                          {"en-gb", "en-us", "nl", "de", "da",    "sv",    "nb", "es",
                           "pt",    "pt-br", "it", "ca", "fr-fr", "fr-be", "fi", "pl",
                           "cs",    "ru",    "uk", "el", "cmn",   "ja"});
}

// The language chosen for each chunk of `document`, read from start to end.
QStringList languagesOf(const std::u16string &document) {
    AutomaticVoice chooser = makeChooser();
    QStringList languages;
    std::size_t position = 0;
    for (;;) {
        const auto next = text::nextChunk(document, position, true);
        if (next.status != text::ChunkStatus::Ready)
            break;
        const auto choice = chooser.choose(document, next.chunk, true);
        languages << (choice ? QString::fromStdString(choice->language) : QStringLiteral("?"));
        position = next.chunk.start + next.chunk.length;
    }
    return languages;
}

std::u16string sample(const char *language) {
    for (const Sample &s : kSamples)
        if (qstrcmp(s.language, language) == 0)
            return s.text;
    return {};
}

// The first of a sample's two sentences.
std::u16string firstSentence(const char *language) {
    const std::u16string whole = sample(language);
    return whole.substr(0, text::nextChunk(whole, 0, true).chunk.length);
}

} // namespace

class TestLanguages : public QObject {
    Q_OBJECT
private slots:
    void eachLanguageToldAndVoiced_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("voice");
        for (const Sample &s : kSamples) {
            const std::u16string whole = s.text;
            QTest::addRow("%s paragraph", s.language)
                << QString::fromStdU16String(whole) << s.language << s.voice;
            QTest::addRow("%s sentence", s.language)
                << QString::fromStdU16String(firstSentence(s.language)) << s.language << s.voice;
        }
    }
    void eachLanguageToldAndVoiced() {
        QFETCH(QString, text);
        QFETCH(QString, language);
        QFETCH(QString, voice);
        AutomaticVoice chooser = makeChooser();
        const std::u16string units = text.toStdU16String();
        const auto choice = chooser.choose(units, text::nextChunk(units, 0, true).chunk, true);
        QVERIFY(choice);
        QCOMPARE(QString::fromStdString(choice->language), language);
        QCOMPARE(QString::fromStdString(choice->voice), voice);
    }

    void shortTextsKeepTheVoiceAround_data() {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QStringList>("languages");
        const auto doc = [](std::initializer_list<std::u16string> parts) {
            std::u16string joined;
            for (const std::u16string &part : parts)
                joined += (joined.empty() ? u"" : u"\n") + part;
            return QString::fromStdU16String(joined);
        };
        QTest::newRow("a heading reads like the text it introduces")
            << doc({u"Le marché", sample("fr"), u"Der Markt", sample("de")})
            << QStringList{"fr", "fr", "fr", "de", "de", "de"};
        QTest::newRow("a name and a number between paragraphs, and a name at the end")
            << doc({sample("en"), u"Karl Weber", u"42", sample("de"), u"Karl Weber"})
            << QStringList{"en", "en", "de", "de", "de", "de", "de"};
        QTest::newRow("a single foreign word does not switch")
            << doc({u"We ate a croissant at the café on the corner and talked about the weather "
                    u"for a long while."})
            << QStringList{"en"};
        QTest::newRow("a long quoted sentence does")
            << doc({u"My grandmother wrote to me again last week, from the little house by the "
                    u"coast where she has lived for most of her long life. " +
                    firstSentence("fr") +
                    u" She always writes the first lines in French, and the rest in English."})
            << QStringList{"en", "fr", "en"};
        QTest::newRow("nothing to tell a language by: the locale's voice")
            << doc({u"12 345", u"678"}) << QStringList{"", ""};
    }
    void shortTextsKeepTheVoiceAround() {
        QFETCH(QString, document);
        QFETCH(QStringList, languages);
        QCOMPARE(languagesOf(document.toStdU16String()), languages);
    }

    void waitsForTheTextItNeeds() {
        // A heading whose paragraph has not all arrived cannot be told yet; once it has, the
        // choice is the one made on the whole text at once.
        const std::u16string whole = u"Der Markt\n" + sample("de");
        const std::u16string part = whole.substr(0, 30);
        AutomaticVoice chooser = makeChooser();
        const text::Chunk heading = text::nextChunk(whole, 0, true).chunk;
        QVERIFY(!chooser.choose(part, heading, false));
        const auto later = chooser.choose(whole, heading, true);
        QVERIFY(later);
        QCOMPARE(later->language, std::string("de"));
        QCOMPARE(languagesOf(whole), (QStringList{"de", "de", "de"}));
        // Text with nothing to tell a language by, longer than anything looked at, still gets
        // a voice for every chunk (a loop here once hung the worker).
        const std::u16string word(100000, u'a');
        QCOMPARE(languagesOf(word), QStringList(qsizetype(250), QString()));
        QCOMPARE(languagesOf(u"Hi\n" + word).size(), 251);
    }
};

QTEST_GUILESS_MAIN(TestLanguages)
#include "tst_languages.moc"
