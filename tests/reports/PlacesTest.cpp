// Place report: the surname and resident lists, the family pass, the favourites and year filters, the
// order and the map search through a fake opener.
#include "app/reports/Places.h"

#include "app/core/GDate.h"
#include "app/core/GedcomReader.h"
#include "app/core/PersonList.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Town {
  Model m;
  std::int64_t Person(const QString& surname, const QString& birthSurname, const QString& place,
                      const QString& birth = {}, const QString& death = {}) {
    TINDI p;
    p.SURN1 = surname;
    p.SURN0 = birthSurname;
    p.FIO1 = surname + QStringLiteral(" Имя");
    p.BIRT_PLAC = place;
    if (!birth.isEmpty()) p.BIRT_DATE = GDate_RDates(birth);
    if (!death.isEmpty()) p.DEAT_DATE = GDate_RDates(death);
    m.aIndi.push_back(p);
    return std::int64_t(m.aIndi.size()) - 1;
  }
  void Marriage(std::int64_t husb, std::int64_t wife, const QString& place) {
    TFAM f;
    f.HUSB = husb;
    f.WIFE = wife;
    f.MARR_PLAC = place;
    m.aFam.push_back(f);
  }
};

TPlaceOptions In(const QString& place, bool residents = false) {
  TPlaceOptions o;
  o.Place = place;
  o.Residents = residents;
  o.OpenMap = false;
  return o;
}

const QString kTula = QStringLiteral("Тула");

TEST(PlaceReport, BirthSurnameFirstThenCurrentSurname) {
  Town t;
  t.Person(QStringLiteral("Б"), QStringLiteral("А"), kTula);  // "А" is new: only "А"
  EXPECT_EQ(PlaceEntries(t.m, In(kTula)), QStringList{QStringLiteral("А")});
  t.Person(QStringLiteral("Б"), QStringLiteral("А"), kTula);  // "А" listed already: "Б"
  EXPECT_EQ(PlaceEntries(t.m, In(kTula)), (QStringList{QStringLiteral("А"), QStringLiteral("Б")}));
}

TEST(PlaceReport, PersonsOfThePlaceByBirthDeathOrResidence) {
  Town t;
  const auto born = t.Person(QStringLiteral("Орлов"), {}, kTula);
  const auto died = t.Person(QStringLiteral("Ильин"), {}, QStringLiteral("Москва"));
  t.m.aIndi[std::size_t(died)].DEAT_PLAC = kTula;
  const auto lived = t.Person(QStringLiteral("Зуев"), {}, {});
  t.m.aIndi[std::size_t(lived)].RESI_PLAC = kTula;
  t.Person(QStringLiteral("Соколов"), {}, QStringLiteral("Тула, Россия"));  // another place
  t.Person(QStringLiteral("Кузнецов"), {}, QStringLiteral("тула"));        // exact text only
  (void)born;
  EXPECT_EQ(PlaceReportText(PlaceEntries(t.m, In(kTula)), false), QStringLiteral("Зуев, Ильин, Орлов"));
}

TEST(PlaceReport, SortedInRussianOrderAndJoined) {
  Town t;
  for (const char* s : {"Б", "А", "В", "ё", "Е", "Ж"}) t.Person(QString::fromUtf8(s), {}, kTula);
  EXPECT_EQ(PlaceReportText(PlaceEntries(t.m, In(kTula)), false), QStringLiteral("А, Б, В, Е, ё, Ж"));
  EXPECT_EQ(PlaceReportText({}, false), QString());
}

TEST(PlaceReport, ResidentsWithLifeYearsOnePerLine) {
  Town t;
  const auto a = t.Person(QStringLiteral("Орлов"), {}, kTula, QStringLiteral("1850"), QStringLiteral("ABT 1910"));
  t.Person(QStringLiteral("Ильин"), {}, kTula);
  t.Person(QStringLiteral("Ильин"), {}, kTula);  // the same text is listed once
  (void)a;
  const QStringList entries = PlaceEntries(t.m, In(kTula, true));
  EXPECT_EQ(entries, (QStringList{QStringLiteral("Ильин Имя (-)"), QStringLiteral("Орлов Имя (1850-1910)")}));
  EXPECT_EQ(PlaceReportText(entries, true), QStringLiteral("Ильин Имя (-)\r\nОрлов Имя (1850-1910)"));
}

TEST(PlaceReport, CoupleMarriedInThePlaceIsListedWhateverTheYears) {
  Town t;
  const auto h = t.Person(QStringLiteral("Орлов"), {}, QStringLiteral("Москва"), QStringLiteral("1700"),
                          QStringLiteral("1750"));
  const auto w = t.Person(QStringLiteral("Орлова"), QStringLiteral("Ильина"), QStringLiteral("Москва"),
                          QStringLiteral("1705"), QStringLiteral("1760"));
  t.Marriage(h, w, kTula);
  t.Marriage(0, w, kTula);  // no husband: only the wife's birth surname
  TPlaceOptions o = In(kTula);
  o.FromYearOn = true;
  o.FromYear = 1800;
  EXPECT_EQ(PlaceEntries(t.m, o), (QStringList{QStringLiteral("Ильина"), QStringLiteral("Орлов")}));
  o.Residents = true;
  EXPECT_EQ(PlaceEntries(t.m, o),
            (QStringList{QStringLiteral("Орлов Имя (1700-1750)"), QStringLiteral("Орлова Имя (1705-1760)")}));
}

TEST(PlaceReport, YearFiltersCompareNumbers) {
  struct Case {
    const char* what;
    const char* birth;
    const char* death;
    bool fromOn;
    int from;
    bool toOn;
    int to;
    bool listed;
  };
  const Case cases[] = {
      {"died 1799, from 1800", "1750", "1799", true, 1800, false, 0, false},
      {"died 1800, from 1800", "1750", "1800", true, 1800, false, 0, true},
      {"no death date, from 1800", "1750", "", true, 1800, false, 0, false},
      {"no death date, from 0", "1750", "", true, 0, false, 0, true},
      {"died 1850, from 500 (as texts \"1850\" < \"500\")", "1750", "1850", true, 500, false, 0, true},
      {"died 500, from 1799 (as texts \"0500\" < \"1799\")", "450", "500", true, 1799, false, 0, false},
      {"born 1750, to 1800", "1750", "", false, 0, true, 1800, true},
      {"born 1801, to 1800", "1801", "", false, 0, true, 1800, false},
      {"born 1801, to 900 (as texts \"1801\" < \"900\")", "1801", "", false, 0, true, 900, false},
      {"no birth date, to 1800", "", "", false, 0, true, 1800, true},
      {"both filters, inside", "1750", "1820", true, 1800, true, 1760, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Town t;
    t.Person(QStringLiteral("Орлов"), {}, kTula, QString::fromUtf8(c.birth), QString::fromUtf8(c.death));
    TPlaceOptions o = In(kTula);
    o.FromYearOn = c.fromOn;
    o.FromYear = c.from;
    o.ToYearOn = c.toOn;
    o.ToYear = c.to;
    EXPECT_EQ(PlaceEntries(t.m, o).size(), c.listed ? 1 : 0);
  }
}

TEST(PlaceReport, OnlyFavourites) {
  Town t;
  const auto a = t.Person(QStringLiteral("Орлов"), {}, kTula);
  t.Person(QStringLiteral("Ильин"), {}, kTula);
  const auto h = t.Person(QStringLiteral("Зуев"), {}, {});
  const auto w = t.Person(QStringLiteral("Зуева"), QStringLiteral("Лебедева"), {});
  t.Marriage(h, w, kTula);
  t.m.aIndi[std::size_t(a)].FAVOR = QStringLiteral("1");
  TPlaceOptions o = In(kTula);
  o.OnlyFavorites = true;
  EXPECT_EQ(PlaceEntries(t.m, o), QStringList{QStringLiteral("Орлов")});
  t.m.aIndi[std::size_t(w)].FAVOR = QStringLiteral("2");  // one marked spouse lists the couple
  EXPECT_EQ(PlaceEntries(t.m, o), (QStringList{QStringLiteral("Зуев"), QStringLiteral("Лебедева"), QStringLiteral("Орлов")}));
}

TEST(PlaceMap, PlaceIsPercentEncodedAsUtf8) {
  const QUrl url = PlaceMapUrl(QStringLiteral("с. Берёзовка, Тульская губ. & Co #1/2"));
  const QByteArray encoded = url.toEncoded();
  EXPECT_TRUE(url.isValid());
  EXPECT_TRUE(encoded.startsWith("https://")) << encoded.constData();
  const qsizetype q = encoded.indexOf("?q=");
  ASSERT_GE(q, 0) << encoded.constData();
  EXPECT_EQ(encoded.mid(q + 3),
            QByteArray("%D1%81.%20%D0%91%D0%B5%D1%80%D1%91%D0%B7%D0%BE%D0%B2%D0%BA%D0%B0%2C%20%D0%A2%D1%83%D0%BB%D1%8C"
                       "%D1%81%D0%BA%D0%B0%D1%8F%20%D0%B3%D1%83%D0%B1.%20%26%20Co%20%231%2F2"));
  EXPECT_EQ(QUrl::fromPercentEncoding(encoded.mid(q + 3)), QStringLiteral("с. Берёзовка, Тульская губ. & Co #1/2"));
  // Shell and quote characters travel as data.
  const QByteArray hostile = PlaceMapUrl(QStringLiteral("a\"; rm -rf ~ `x` $(y)")).toEncoded();
  for (const char c : {' ', '"', ';', '`', '$', '(', ')'}) EXPECT_FALSE(hostile.contains(c)) << c;
}

TEST(PlaceMap, OpenedThroughTheOpenerEvenForAnEmptyReport) {
  Town t;
  std::vector<QUrl> opened;
  const TUrlOpener fake = [&](const QUrl& url) {
    opened.push_back(url);
    return false;  // a failing browser start is ignored
  };
  TPlaceOptions o = In(QStringLiteral("Нигде"));
  o.OpenMap = true;
  t.m.AbortFlag = true;
  EXPECT_EQ(PlacePers(t.m, o, fake), QString());
  EXPECT_FALSE(t.m.AbortFlag);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], PlaceMapUrl(QStringLiteral("Нигде")));
  o.OpenMap = false;
  PlacePers(t.m, o, fake);
  EXPECT_EQ(opened.size(), 1u);
}

TEST(PlaceReport, SampleTreeEveryPlaceHasEntries) {
  Model m;
  Ged_Indi(m, QStringLiteral(TREVOLAN_SOURCE_DIR "/samples/sample-utf8.ged"));
  PreparePersonsAfterLoad(m);
  const QStringList places = CollectPlaces(m);
  ASSERT_FALSE(places.isEmpty());
  // Every place of the list has somebody (a person or a couple) in it.
  for (const QString& place : places) {
    SCOPED_TRACE(place.toStdString());
    EXPECT_FALSE(PlaceEntries(m, In(place)).isEmpty());
    EXPECT_FALSE(PlaceEntries(m, In(place, true)).isEmpty());
  }
}

}  // namespace
