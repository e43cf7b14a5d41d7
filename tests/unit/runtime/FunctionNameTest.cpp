#include "runtime/FunctionName.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

namespace norvale {

// Log lines name the function they come from; these are the shapes of function the driver logs from.
class CNamed {
 public:
  CNamed() : fromConstructor(ZEPHRIN_FUNCTION) {}
  std::string Member() const { return ZEPHRIN_FUNCTION; }
  std::pair<std::map<int, int>, std::string> TemplateReturn() { return {{}, ZEPHRIN_FUNCTION}; }
  std::string FromLambda() {
    auto inner = [](int) { return std::string(ZEPHRIN_FUNCTION); };
    return inner(0);
  }
  struct Nested {
    static std::string Inner() { return ZEPHRIN_FUNCTION; }
  };
  std::string fromConstructor;
};

}  // namespace norvale

TEST(FunctionName, ALogLineNamesTheQualifiedFunctionItComesFrom) {
  norvale::CNamed named;
  EXPECT_EQ(named.fromConstructor, "norvale::CNamed::CNamed");
  EXPECT_EQ(named.Member(), "norvale::CNamed::Member");
  EXPECT_EQ(named.TemplateReturn().second, "norvale::CNamed::TemplateReturn");
  EXPECT_EQ(named.FromLambda(), "norvale::CNamed::FromLambda");
  EXPECT_EQ(norvale::CNamed::Nested::Inner(), "norvale::CNamed::Nested::Inner");
}
