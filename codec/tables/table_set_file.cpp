#include "codec/tables/table_set_file.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>
#include <string_view>

#include "codec/tables/table_set_check.h"

namespace g7231 {
namespace {

// One table of a set as the file sees it: its section name, its shape, what it holds, and its values.
struct TableLayout {
  std::string_view name;
  std::size_t rows;
  std::size_t width;
  std::string_view holds;
  std::int16_t& (*at)(TableSet&, std::size_t row, std::size_t column);
};

template <auto Member>
std::int16_t& element(TableSet& set, std::size_t row, std::size_t column) {
  auto& table = set.*Member;
  if constexpr (std::is_same_v<std::remove_cvref_t<decltype(table[0])>, std::int16_t>) {
    return table[row];
  } else {
    return table[row][column];
  }
}

constexpr std::array<TableLayout, 9> kLayouts = {{
    {"lsp_band0", kLspCodebookRows, 3, "LSP residual codebook of coefficients 0-2 (Q15 of pi); row 0 all zero",
     element<&TableSet::lsp_band0>},
    {"lsp_band1", kLspCodebookRows, 3, "LSP residual codebook of coefficients 3-5 (Q15 of pi); row 0 all zero",
     element<&TableSet::lsp_band1>},
    {"lsp_band2", kLspCodebookRows, 4, "LSP residual codebook of coefficients 6-9 (Q15 of pi); row 0 all zero",
     element<&TableSet::lsp_band2>},
    {"acb_gain85", kAcbShortLagEntries, 20,
     "pitch-gain entries for 6.3 kbit/s lags below 58: taps b0..b4 (Q14), -b_t*b_t/16384 for t = 0..4, "
     "-b_t*b_u/16384 for (t,u) = (1,0) (2,0) (2,1) (3,0) (3,1) (3,2) (4,0) (4,1) (4,2) (4,3); entry 0 all zero",
     element<&TableSet::acb_gain85>},
    {"acb_gain170", kAcbEntries, 20, "pitch-gain entries for every other lag, laid out as acb_gain85",
     element<&TableSet::acb_gain170>},
    {"taming_gain85", kAcbShortLagEntries, 1,
     "error amplification bound of each acb_gain85 entry (Q13), non-decreasing", element<&TableSet::taming_gain85>},
    {"taming_gain170", kAcbEntries, 1, "error amplification bound of each acb_gain170 entry (Q13), non-decreasing",
     element<&TableSet::taming_gain170>},
    {"sharp_lag_offset", kAcbEntries, 1,
     "5.3 kbit/s pitch sharpening lag correction per acb_gain170 entry: -2..2, or 60 to switch it off",
     element<&TableSet::sharp_lag_offset>},
    {"sharp_gain", kAcbEntries, 1, "its sharpening gain (Q15), 0 where the offset is 60",
     element<&TableSet::sharp_gain>},
}};

// What the reader has of each table so far.
struct Progress {
  bool seen = false;
  std::size_t rows = 0;
};

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

}  // namespace

TableSetLoad parse_table_set(std::istream& in, const std::string& name, TableSet& set, std::string& message) {
  TableSet read;
  std::array<Progress, kLayouts.size()> progress{};
  const TableLayout* current = nullptr;
  Progress* current_progress = nullptr;
  std::string line_text;
  std::size_t line = 0;
  const auto fail = [&](auto&&... parts) {
    message = tables::str(name, ":", line, ": ", parts...);
    return TableSetLoad::malformed;
  };
  const auto finish_table = [&]() {
    if (current == nullptr || current_progress->rows == current->rows) return true;
    message = tables::str(name, ": table ", current->name, " has ", current_progress->rows, " rows; it needs ",
                          current->rows);
    return false;
  };

  while (std::getline(in, line_text)) {
    ++line;
    std::string_view text = line_text;
    text = trim(text.substr(0, text.find('#')));
    if (text.empty()) continue;
    if (text.front() == '[') {
      if (text.back() != ']') return fail("a section name must stand alone in brackets: ", text);
      if (!finish_table()) return TableSetLoad::malformed;
      const std::string_view section = trim(text.substr(1, text.size() - 2));
      current = nullptr;
      for (std::size_t t = 0; t < kLayouts.size(); ++t) {
        if (kLayouts[t].name == section) {
          current = &kLayouts[t];
          current_progress = &progress[t];
        }
      }
      if (current == nullptr) return fail("unknown table [", section, "]");
      if (current_progress->seen) return fail("table [", section, "] appears a second time");
      current_progress->seen = true;
      continue;
    }
    if (current == nullptr) return fail("values before the first [table] line");
    const std::size_t row = current_progress->rows;
    if (row == current->rows) return fail("table ", current->name, " has more than its ", current->rows, " rows");
    std::size_t column = 0;
    while (!text.empty()) {
      const std::size_t end = std::min(text.find_first_of(" \t"), text.size());
      const std::string_view word = text.substr(0, end);
      text = trim(text.substr(end));
      long value = 0;
      const auto [rest, error] = std::from_chars(word.data(), word.data() + word.size(), value);
      if (error != std::errc() || rest != word.data() + word.size()) {
        return fail("table ", current->name, ", row ", row, ": '", word, "' is not an integer");
      }
      if (value < INT16_MIN || value > INT16_MAX) {
        return fail("table ", current->name, ", row ", row, ": ", value, " is outside -32768..32767");
      }
      if (column < current->width) current->at(read, row, column) = static_cast<std::int16_t>(value);
      ++column;
    }
    if (column != current->width) {
      return fail("table ", current->name, ", row ", row, ": ", column, " values; each row has ", current->width);
    }
    ++current_progress->rows;
  }
  if (in.bad()) {
    message = tables::str(name, ": cannot be read");
    return TableSetLoad::unreadable;
  }
  if (!finish_table()) return TableSetLoad::malformed;
  for (std::size_t t = 0; t < kLayouts.size(); ++t) {
    if (!progress[t].seen) {
      message = tables::str(name, ": table [", kLayouts[t].name, "] is missing");
      return TableSetLoad::malformed;
    }
  }

  read.derive();
  set = read;
  message.clear();
  return TableSetLoad::ok;
}

TableSetLoad read_table_set(std::istream& in, const std::string& name, TableSet& set, std::string& message) {
  TableSet read;
  const TableSetLoad parsed = parse_table_set(in, name, read, message);
  if (parsed != TableSetLoad::ok) return parsed;
  for (const tables::Check& c : tables::check_structure(read.view())) {
    if (!c.ok) {
      message = tables::str(name, ": ", c.what, ": ", c.detail);
      return TableSetLoad::invalid;
    }
  }
  set = read;
  return TableSetLoad::ok;
}

TableSetLoad load_table_set(const std::string& path, TableSet& set, std::string& message) {
  std::ifstream in(path);
  if (!in) {
    message = tables::str(path, ": cannot be opened");
    return TableSetLoad::unreadable;
  }
  return read_table_set(in, path, set, message);
}

void write_table_set(std::ostream& out, const TableSet& set, const std::string& header_comment) {
  std::istringstream header(header_comment);
  for (std::string line; std::getline(header, line);) out << (line.empty() ? "#" : "# " + line) << '\n';
  TableSet copy = set;
  for (const TableLayout& t : kLayouts) {
    out << "\n# " << t.holds << "\n# " << t.rows << " rows of " << t.width << (t.width == 1 ? " value" : " values")
        << "\n[" << t.name << "]\n";
    for (std::size_t r = 0; r < t.rows; ++r) {
      for (std::size_t c = 0; c < t.width; ++c) out << (c == 0 ? "" : " ") << t.at(copy, r, c);
      out << '\n';
    }
  }
}

}  // namespace g7231
