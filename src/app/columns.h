// Text laid out in columns on a terminal: display widths of UTF-8 text
// (East Asian wide and full-width characters take two columns) and sizes
// the way lsblk shows them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Columns text takes on a terminal; bytes that are not UTF-8 count one each.
size_t DisplayWidth(const std::string &text);

// lsblk's SIZE: powers of 1024, B K M G T P E, one decimal where the
// value is not whole ("64M", "1.5G", "512B").
std::string HumanSize(uint64_t bytes);

// Rows laid out in columns padded to the widest cell, two blanks apart;
// the last column is not padded. Each line ends with a line feed.
std::string Columns(const std::vector<std::vector<std::string>> &rows);
