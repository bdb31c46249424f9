#include "trel_opt/grad_func.h"
#include "trel_opt/opt_func.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "trel_tools/exception_l.h"

namespace {

int live_functions = 0;

class Counted_func : public trel::Opt_func {
public:
  Counted_func() { ++live_functions; }
  Counted_func(const Counted_func& other) : trel::Opt_func(other) { ++live_functions; }
  Counted_func& operator=(const Counted_func& other) {
    trel::Opt_func::operator=(other);
    return *this;
  }
  ~Counted_func() override { --live_functions; }
  std::vector<double> operator()(const std::vector<double>& x) const override { return x; }
};

class Identity_grad : public trel::Grad_func {
public:
  using trel::Grad_func::Grad_func;
  int operator()(const std::vector<double>& x, cv::Mat& jacobian, int row0) const override {
    for (std::size_t i = 0; i < x.size(); ++i) jacobian.at<double>(row0 + static_cast<int>(i), static_cast<int>(i)) = 1.0;
    return static_cast<int>(x.size());
  }
};

TEST(OptFunc, WeightIsOneUntilSetThenGrowsWithZeros) {
  Counted_func f;
  EXPECT_EQ(f.get_weight(5), 1.0);
  f.set_weight(2, 3.0);
  EXPECT_EQ(f.get_weight(0), 0.0);
  EXPECT_EQ(f.get_weight(1), 0.0);
  EXPECT_EQ(f.get_weight(2), 3.0);
  EXPECT_THROW(f.get_weight(5), std::out_of_range);
  EXPECT_THROW(f.get_weight(-1), std::out_of_range);
  EXPECT_THROW(f.set_weight(-1, 2.0), std::out_of_range);
  EXPECT_EQ(f.get_weight(2), 3.0);
  f.set_weights({4.0});
  EXPECT_EQ(f.get_weight(0), 4.0);
  EXPECT_THROW(f.get_weight(1), std::out_of_range);
}

TEST(OptFunc, CopyHasNoWeightsAndAssignmentKeepsTarget) {
  Counted_func f;
  f.set_weights({2.0, 3.0});
  Counted_func copy(f);
  EXPECT_EQ(copy.get_weight(7), 1.0);
  Counted_func target;
  target.set_weights({5.0});
  target = f;
  EXPECT_EQ(target.get_weight(0), 5.0);
  EXPECT_THROW(target.get_weight(1), std::out_of_range);
}

TEST(GradFunc, WeightsReachTheBaseFunction) {
  Counted_func* base = new Counted_func;
  Identity_grad g(base);
  g.set_weight(1, 2.5);
  EXPECT_EQ(g.get_weight(1), 2.5);
  EXPECT_EQ(base->get_weight(0), 0.0);
  EXPECT_EQ(base->get_weight(1), 2.5);
  g.set_weights({7.0, 8.0, 9.0});
  EXPECT_EQ(base->get_weight(2), 9.0);
  EXPECT_EQ(g.base_function(), base);
}

TEST(GradFunc, WithoutBaseOnlyItsOwnWeightsChangeAndBaseAccessThrows) {
  Identity_grad g;
  g.set_weight(0, 2.0);
  EXPECT_EQ(g.get_weight(0), 2.0);
  EXPECT_FALSE(g.has_base_function());
  try {
    g.base_function();
    FAIL() << "no exception";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(e.depth(), 0);
    const std::string text = e.what();
    EXPECT_NE(text.find("\nDetails: Tried to access base function for a Grad_func, but none has been set\n"),
              std::string::npos)
        << text;
  }
}

TEST(GradFunc, OwnsItsBaseAndCopiesLeaveItAlone) {
  ASSERT_EQ(live_functions, 0);
  {
    Identity_grad g(new Counted_func);
    g.set_weights({2.0});
    EXPECT_EQ(live_functions, 1);
    {
      Identity_grad copy(g);
      EXPECT_FALSE(copy.has_base_function());
      EXPECT_EQ(copy.get_weight(3), 1.0);
      Identity_grad assigned(new Counted_func);
      assigned = g;
      EXPECT_EQ(live_functions, 2);
    }
    EXPECT_EQ(live_functions, 1);
    EXPECT_TRUE(g.has_base_function());
    EXPECT_EQ((*g.base_function())({1.0, 2.0}).size(), 2u);
  }
  EXPECT_EQ(live_functions, 0);
}

}  // namespace
