// Hand-made monitor reports for the decoder tests.
#ifndef PNLMON_TEST_TESTREPORTS_H
#define PNLMON_TEST_TESTREPORTS_H

#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

// A valid EDID base block with nothing announced: header, version 1.3,
// analog input, empty standard timing slots and four dummy descriptors.
Bytes EmptyEdid();
// Sets byte 127 so that the block sums to 0.
void Seal(Bytes& block);
// The block's bytes at offset, then sealed.
void Put(Bytes& block, size_t offset, const Bytes& bytes);

// A 35-byte inventory report with the given text fields (each padded or cut
// to its width) and everything else 0.
Bytes InventoryReport(const std::string& fwrev = "1.00", const std::string& machine = "4820",
                      const std::string& model = "5GB", const std::string& serial = "ZK00001");

// A 24-byte OSD report selecting the given mode index.
Bytes OsdReport(unsigned char mode);

// A file's whole content; false when it cannot be read.
bool ReadBytes(const std::string& path, Bytes& bytes);

#endif
