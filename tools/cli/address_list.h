// The detectors poll watches on one line: --address 3,7,10-12.
#pragma once

#include <string>
#include <vector>

// Addresses from 0 to 255 apart by commas, and ranges of them (10-12), each address at most
// once, kept in the order given. Puts them in `addresses`; the complaint, or "" when the
// list is good.
std::string ParseAddressList(const std::string& text, std::vector<int>* addresses);

// "3, 7, 10" for a summary's heading.
std::string AddressListText(const std::vector<int>& addresses);
