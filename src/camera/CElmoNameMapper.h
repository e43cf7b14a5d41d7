#pragma once
#include <cstdint>
#include <string>

namespace norvale {

// Turns the camera's brand ("root.Brand.Brand") and product short name ("root.Brand.ProdShortName")
// into the brand shown to the host, a converted model name and the camera series, which selects the
// resolution and frame-rate tables and the stream layout of the camera.
class CElmoNameMapper {
 public:
  CElmoNameMapper() = default;
  virtual ~CElmoNameMapper() = default;

  // False when the brand or the model stays unknown (an empty short name).
  bool Map(const std::string& defaultBrand, const std::string& brandValue, const std::string& shortName);

  // The brand, or "(undefined)".
  std::string GetBrand() const;
  // The converted model, else the model as reported, else "(undefined)".
  std::string GetModel() const;
  const std::string& GetUnconvertedModel() const { return unconvertedModel_; }
  const std::string& GetConvertedModel() const { return convertedModel_; }
  // 0 when not determined.
  uint32_t GetSeries() const { return series_; }
  // Later discovery steps may decide the series when the name did not.
  void SetSeriesIfUnset(uint32_t series);
  void Clear();

  // Series of a model name (without an "e-" prefix); 0 when no rule matches.
  static uint32_t SeriesOf(const std::string& model);
  // Model name as e-Vision sells it, or empty.
  static std::string EVisionName(const std::string& model, uint32_t series);
  // Short Dynacolor model name ("V1", "W3", "5" ...), or empty.
  static std::string DynacolorName(const std::string& model);

 private:
  uint32_t series_ = 0;
  std::string brand_;
  std::string unconvertedModel_;
  std::string convertedModel_;
};

}  // namespace norvale
