// Names each case of a parameterised test after its `name` field, so that test lists and
// failures read by name: INSTANTIATE_TEST_SUITE_P(..., test::case_name{}).
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace ttyprog::test {

struct case_name {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& tested) const {
    return tested.param.name;
  }
};

}  // namespace ttyprog::test
