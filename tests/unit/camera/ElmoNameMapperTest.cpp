#include <gtest/gtest.h>

#include "camera/CElmoNameMapper.h"

using norvale::CElmoNameMapper;

namespace {

struct Mapped {
  bool ok;
  std::string brand, model, unconverted;
  uint32_t series;
};

Mapped Map(const std::string& shortName, const std::string& brandValue = "", const std::string& defaultBrand = "") {
  CElmoNameMapper mapper;
  const bool ok = mapper.Map(defaultBrand, brandValue, shortName);
  return {ok, mapper.GetBrand(), mapper.GetModel(), mapper.GetUnconvertedModel(), mapper.GetSeries()};
}

// ---- series by model name ----------------------------------------------------------------------

TEST(ElmoNameMapperSeries, EachTableRowHasItsSeries) {
  const struct {
    const char* name;
    uint32_t series;
  } cases[] = {
      {"VS2010", 9},     {"TPMX10A", 1},  {"NH06xB", 1},   {"NH07x", 1},    {"ICA-HM126", 2}, {"ICA-HM131W", 2},
      {"NH7001", 8},     {"NH8123", 8},   {"DH5100", 3},   {"DH6", 3},      {"DH7x", 3},      {"DH8000", 3},
      {"IP PTZ 18x", 3}, {"ElDome-X", 3}, {"PXD-2018", 3}, {"PLD-2000", 3}, {"ICA-H652", 3},  {"NH062", 6},
      {"NH102", 6},      {"NH10x1", 6},   {"NH222", 6},    {"NH21xB", 6},   {"TDMX10", 6},    {"TPMX30", 4},
      {"TDMX30B", 4},    {"NV1021", 4},   {"NA0825", 4},   {"V1", 4},       {"v9-dome", 4},   {"NV1031", 7},
      {"NA0535", 7},     {"NH0031", 7},   {"PXD-1000", 7}, {"PXD-5310", 7}, {"W2", 7},        {"w7x", 7},
      {"XYZ", 0},        {"V0", 0},       {"W0", 0},       {"V", 0},        {"PXD-3000", 0},  {"DH4", 0},
      {"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(CElmoNameMapper::SeriesOf(c.name), c.series) << c.name;
}

TEST(ElmoNameMapperSeries, MatchingIgnoresLetterCaseButNotTheLetterX) {
  EXPECT_EQ(CElmoNameMapper::SeriesOf("nh062"), 6u);
  EXPECT_EQ(CElmoNameMapper::SeriesOf("NH062"), 6u);  // "NH06x" needs the x
  EXPECT_EQ(CElmoNameMapper::SeriesOf("nh06X1"), 1u);
  EXPECT_EQ(CElmoNameMapper::SeriesOf("tpmx10"), 1u);
  EXPECT_EQ(CElmoNameMapper::SeriesOf("eldome"), 3u);
  EXPECT_EQ(CElmoNameMapper::SeriesOf("vs201"), 9u);
}

TEST(ElmoNameMapperSeries, EarlierRowsWin) {
  EXPECT_EQ(CElmoNameMapper::SeriesOf("VS2013"), 9u);
  EXPECT_EQ(CElmoNameMapper::SeriesOf("NH7031"), 8u);  // NH7 before the fifth-character rule
  EXPECT_EQ(CElmoNameMapper::SeriesOf("NH10x3"), 6u);  // series 6 before series 7
  EXPECT_EQ(CElmoNameMapper::SeriesOf("NH062x3"), 6u);
}

TEST(ElmoNameMapperSeries, NvNaNhNamesAreDecidedByTheirFifthCharacter) {
  EXPECT_EQ(CElmoNameMapper::SeriesOf("NV1041"), 0u);
  EXPECT_EQ(CElmoNameMapper::SeriesOf("NA10"), 0u);  // too short to have a fifth character
  EXPECT_EQ(CElmoNameMapper::SeriesOf("NV10"), 0u);
  EXPECT_EQ(CElmoNameMapper::SeriesOf("NH0021"), 0u);  // "2" makes series 4 only for NV and NA
  EXPECT_EQ(CElmoNameMapper::SeriesOf("nv1021"), 4u);
  EXPECT_EQ(CElmoNameMapper::SeriesOf("na1031"), 7u);
}

// ---- brand and model --------------------------------------------------------------------------

TEST(ElmoNameMapperMap, EVisionPrefixReplacesTheBrandAndConvertsTheModel) {
  const Mapped m = Map("e-TPMX10A", "Brand_Name");
  EXPECT_TRUE(m.ok);
  EXPECT_EQ(m.brand, "e-Vision");
  EXPECT_EQ(m.unconverted, "e-TPMX10A");
  EXPECT_EQ(m.series, 1u);
  EXPECT_EQ(m.model, "TPMX10x");
  EXPECT_EQ(Map("E-TPMX10A", "ELMO").brand, "e-Vision");  // prefix compared in lower case
}

TEST(ElmoNameMapperMap, EVisionNamesBySeries) {
  EXPECT_EQ(Map("e-ICA-HM126").model, "TDMX30x");
  EXPECT_EQ(Map("e-DH5000").model, "ElDome");
  EXPECT_EQ(Map("e-V6").model, "TPMX30x");
  EXPECT_EQ(Map("e-TPMX30").model, "TPMX30x");
  EXPECT_EQ(Map("e-TDMX30").model, "TDMX30x");
  EXPECT_EQ(Map("e-V3").model, "TDMX30x");
  EXPECT_EQ(Map("e-NH062").model, "TDMX10x");
  // Series without an e-Vision name report the camera's own name.
  EXPECT_EQ(Map("e-NH7001").model, "e-NH7001");
  EXPECT_EQ(Map("e-NH7001").series, 8u);
  EXPECT_EQ(Map("e-XYZ").model, "e-XYZ");
  EXPECT_EQ(Map("e-XYZ").series, 0u);
}

TEST(ElmoNameMapperMap, PlanetPrefixGivesPlanetOnlyWithoutABrand) {
  const Mapped m = Map("ICA-HM131");
  EXPECT_TRUE(m.ok);
  EXPECT_EQ(m.brand, "Planet");
  EXPECT_EQ(m.series, 2u);
  EXPECT_EQ(m.model, "ICA-HM131");
  EXPECT_EQ(Map("ICA-HM131", "PLANET Technology").brand, "PLANET Technology");
  EXPECT_EQ(Map("ica-HM131", "my brand").brand, "Planet");
}

TEST(ElmoNameMapperMap, OtherNamesGetTheDynacolorNameAndDefaultBrand) {
  const Mapped m = Map("NV1021");
  EXPECT_TRUE(m.ok);
  EXPECT_EQ(m.brand, "Dynacolor");
  EXPECT_EQ(m.series, 4u);
  EXPECT_EQ(m.model, "V1");
  EXPECT_EQ(Map("NV1021", "", "ELMO").brand, "ELMO");
  EXPECT_EQ(Map("NV1021", "Acme", "ELMO").brand, "Acme");
  EXPECT_EQ(Map("NV1021", "BRAND", "ELMO").brand, "ELMO");
  EXPECT_EQ(Map("PXD-2000").brand, "Dynacolor");  // "pxd-" is an ordinary prefix
  EXPECT_EQ(Map("PXD-2000").model, "PXD-2000");
}

TEST(ElmoNameMapperMap, DynacolorNamesFromCharactersTwoToFour) {
  EXPECT_EQ(Map("NA0535").model, "W5");
  EXPECT_EQ(Map("NA0535").series, 7u);
  EXPECT_EQ(Map("NV2221").model, "V2");
  EXPECT_EQ(Map("NV3231").model, "W3");
  EXPECT_EQ(Map("NV0621").model, "V6");
  EXPECT_EQ(Map("NA0831").model, "W8");
  EXPECT_EQ(Map("nv1021").model, "V1");
  const Mapped noLetter = Map("NV1041");
  EXPECT_EQ(noLetter.series, 0u);
  EXPECT_EQ(noLetter.model, "1");
  EXPECT_TRUE(noLetter.ok);
  // Pairs outside the table, short names and other prefixes are reported unconverted.
  EXPECT_EQ(Map("NV1121").model, "NV1121");
  EXPECT_EQ(Map("NV10").model, "NV10");
  EXPECT_EQ(Map("NV102").model, "V1");
  EXPECT_EQ(Map("NH1021").model, "NH1021");
}

TEST(ElmoNameMapperMap, EmptyShortNameIsRejected) {
  const Mapped m = Map("", "ELMO", "Dynacolor");
  EXPECT_FALSE(m.ok);
  EXPECT_EQ(m.brand, "ELMO");
  EXPECT_EQ(m.model, "(undefined)");
  EXPECT_EQ(m.series, 0u);
  EXPECT_EQ(Map("", "").brand, "(undefined)");
}

TEST(ElmoNameMapperMap, EveryMapStartsFromScratch) {
  CElmoNameMapper mapper;
  ASSERT_TRUE(mapper.Map("", "", "e-TPMX10A"));
  mapper.SetSeriesIfUnset(5);
  EXPECT_EQ(mapper.GetSeries(), 1u);  // already determined
  ASSERT_TRUE(mapper.Map("", "Acme", "XYZ"));
  EXPECT_EQ(mapper.GetBrand(), "Acme");
  EXPECT_EQ(mapper.GetModel(), "XYZ");
  EXPECT_EQ(mapper.GetSeries(), 0u);
  mapper.SetSeriesIfUnset(7);
  mapper.SetSeriesIfUnset(5);
  EXPECT_EQ(mapper.GetSeries(), 7u);
  mapper.Clear();
  EXPECT_EQ(mapper.GetBrand(), "(undefined)");
  EXPECT_EQ(mapper.GetModel(), "(undefined)");
  EXPECT_EQ(mapper.GetUnconvertedModel(), "");
}

TEST(ElmoNameMapperMap, OddNamesNeverBreakIt) {
  for (const std::string& name : {std::string("-"), std::string("e-"), std::string("E-"), std::string("ica-"),
                                  std::string("e"), std::string("NV"), std::string("N"), std::string("\0\0\0\0\0", 5),
                                  std::string("e-e-e-"), std::string(4096, 'N'), std::string("\xff\xfe-\x80")}) {
    CElmoNameMapper mapper;
    EXPECT_TRUE(mapper.Map("", "", name)) << name.size();
    EXPECT_EQ(mapper.GetUnconvertedModel(), name);
  }
  EXPECT_EQ(Map("e-").brand, "e-Vision");
  EXPECT_EQ(Map("e-").model, "e-");
}

}  // namespace
