// A row of a test table that has a label prints as that label, in failure messages and in the
// names of parameterised tests alike. A test file takes it into the namespace of its rows:
//   using rowlabel::operator<<;
//   INSTANTIATE_TEST_SUITE_P(Table, Suite, ::testing::Values(...), rowlabel::Name());
#pragma once
#include <ostream>
#include <string>

namespace rowlabel {

template <typename Row> auto operator<<(std::ostream& out, const Row& row) -> decltype(out << row.label)
{
    return out << row.label;
}

// The row's label as the test's name.
struct Name
{
    template <typename Info> std::string operator()(const Info& info) const { return info.param.label; }
};

} // namespace rowlabel
