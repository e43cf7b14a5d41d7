#include "camera/CElmoNameMapper.h"

#include <initializer_list>

#include "runtime/StringUtils.h"

namespace norvale {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-insensitive: the name starts with every character of the pattern, a final "x" included.
bool BeginsWith(const std::string& name, const char* pattern) {
  size_t i = 0;
  for (; pattern[i] != '\0'; ++i)
    if (i >= name.size() || Lower(name[i]) != Lower(pattern[i])) return false;
  return true;
}

bool BeginsWithAny(const std::string& name, std::initializer_list<const char*> patterns) {
  for (const char* p : patterns)
    if (BeginsWith(name, p)) return true;
  return false;
}

// Character at a position, or NUL beyond the end.
char At(const std::string& name, size_t index) { return index < name.size() ? name[index] : '\0'; }

// A letter (either case) followed by a digit from 1 to 9.
bool LetterDigit(const std::string& name, char letter) {
  return name.size() >= 2 && Lower(name[0]) == letter && name[1] >= '1' && name[1] <= '9';
}

}  // namespace

uint32_t CElmoNameMapper::SeriesOf(const std::string& m) {
  if (BeginsWith(m, "VS201")) return 9;
  if (BeginsWithAny(m, {"TPMX10", "NH06x", "NH07x"})) return 1;
  if (BeginsWithAny(m, {"ICA-HM126", "ICA-HM131"})) return 2;
  if (BeginsWithAny(m, {"NH7", "NH8"})) return 8;
  if (BeginsWithAny(m, {"DH5", "DH6", "DH7", "DH8", "IP PTZ", "ElDome", "PXD-20", "PLD-20", "ICA-H652"})) return 3;
  if (BeginsWithAny(m, {"NH062", "NH102", "NH10x", "NH222", "NH21x", "TDMX10"})) return 6;
  if (BeginsWithAny(m, {"TPMX30", "TDMX30"})) return 4;
  if (BeginsWithAny(m, {"NV", "NA"}) && At(m, 4) == '2') return 4;
  if (LetterDigit(m, 'v')) return 4;
  // NV, NA and NH names are decided by their fifth character alone.
  if (BeginsWithAny(m, {"NV", "NA", "NH"})) return At(m, 4) == '3' ? 7 : 0;
  if (BeginsWithAny(m, {"PXD-10", "PXD-53"})) return 7;
  if (LetterDigit(m, 'w')) return 7;
  return 0;
}

std::string CElmoNameMapper::EVisionName(const std::string& model, uint32_t series) {
  switch (series) {
    case 1:
      return "TPMX10x";
    case 2:
      return "TDMX30x";
    case 3:
      return "ElDome";
    case 4:
      return BeginsWithAny(model, {"V6", "TPMX30"}) ? "TPMX30x" : "TDMX30x";
    case 6:
      return "TDMX10x";
    default:
      return {};
  }
}

std::string CElmoNameMapper::DynacolorName(const std::string& model) {
  if (!BeginsWithAny(model, {"NV", "NA"}) || model.size() < 5) return {};
  const char* letter = model[4] == '2' ? "V" : model[4] == '3' ? "W" : "";
  static const struct {
    const char* pair;
    const char* digit;
  } kDigits[] = {{"10", "1"}, {"22", "2"}, {"32", "3"}, {"05", "5"}, {"06", "6"}, {"08", "8"}};
  for (const auto& d : kDigits)
    if (model.compare(2, 2, d.pair) == 0) return std::string(letter) + d.digit;
  return {};
}

bool CElmoNameMapper::Map(const std::string& defaultBrand, const std::string& brandValue,
                          const std::string& shortName) {
  Clear();
  // A camera answering with a placeholder such as "Brand_Name" gets its brand from the model.
  if (!brandValue.empty() && ToLower(brandValue).find("brand") == std::string::npos) brand_ = brandValue;
  if (!shortName.empty()) {
    const size_t dash = shortName.find('-');
    const std::string prefix = dash == std::string::npos ? std::string() : ToLower(shortName.substr(0, dash + 1));
    const std::string model = prefix == "e-" ? shortName.substr(2) : shortName;
    unconvertedModel_ = shortName;
    series_ = SeriesOf(model);
    if (prefix == "e-") {
      brand_ = "e-Vision";
      convertedModel_ = EVisionName(model, series_);
    } else if (prefix == "ica-") {
      if (brand_.empty()) brand_ = "Planet";
    } else {
      convertedModel_ = DynacolorName(model);
      if (brand_.empty()) brand_ = defaultBrand.empty() ? "Dynacolor" : defaultBrand;
    }
  }
  return !brand_.empty() && !unconvertedModel_.empty();
}

std::string CElmoNameMapper::GetBrand() const { return brand_.empty() ? "(undefined)" : brand_; }

std::string CElmoNameMapper::GetModel() const {
  if (!convertedModel_.empty()) return convertedModel_;
  if (!unconvertedModel_.empty()) return unconvertedModel_;
  return "(undefined)";
}

void CElmoNameMapper::SetSeriesIfUnset(uint32_t series) {
  if (series_ == 0) series_ = series;
}

void CElmoNameMapper::Clear() {
  series_ = 0;
  brand_.clear();
  unconvertedModel_.clear();
  convertedModel_.clear();
}

}  // namespace norvale
