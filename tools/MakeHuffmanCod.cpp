// Writes huffman.cod, the fax coder's table of the ITU-T T.4 one-dimensional Modified Huffman codes:
// a 16-bit count N = 91, then 91 records of 38 bytes (run length, white code length, black code length,
// 16 bytes of white code and 16 of black code, one byte a bit), entries 0-63 the terminating codes of runs
// 0-63, entries 64-90 the make-up codes of runs 64-1728, then one more record whose white half is the EOL.
//
// usage: zz_make_huffman OUTPUT_FILE
#include "platform/FileHandle.h"
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Terminating codes, runs 0-63.
const char* const kWhiteTerm[64] = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",     "1111",
    "10011",    "10100",    "00111",    "01000",    "001000",   "000011",   "110100",   "110101",
    "101010",   "101011",   "0100111",  "0001100",  "0001000",  "0010111",  "0000011",  "0000100",
    "0101000",  "0101011",  "0010011",  "0100100",  "0011000",  "00000010", "00000011", "00011010",
    "00011011", "00010010", "00010011", "00010100", "00010101", "00010110", "00010111", "00101000",
    "00101001", "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011", "00110100",
};
const char* const kBlackTerm[64] = {
    "0000110111",   "010",          "11",           "10",           "011",          "0011",         "0010",
    "00011",        "000101",       "000100",       "0000100",      "0000101",      "0000111",      "00000100",
    "00000111",     "000011000",    "0000010111",   "0000011000",   "0000001000",   "00001100111",  "00001101000",
    "00001101100",  "00000110111",  "00000101000",  "00000010111",  "00000011000",  "000011001010", "000011001011",
    "000011001100", "000011001101", "000001101000", "000001101001", "000001101010", "000001101011", "000011010010",
    "000011010011", "000011010100", "000011010101", "000011010110", "000011010111", "000001101100", "000001101101",
    "000011011010", "000011011011", "000001010100", "000001010101", "000001010110", "000001010111", "000001100100",
    "000001100101", "000001010010", "000001010011", "000000100100", "000000110111", "000000111000", "000000100111",
    "000000101000", "000001011000", "000001011001", "000000101011", "000000101100", "000001011010", "000001100110",
    "000001100111",
};
// Make-up codes, runs 64, 128, ... 1728.
const char* const kWhiteMakeUp[27] = {
    "11011",     "10010",     "010111",    "0110111",   "00110110",  "00110111",  "01100100",  "01100101",  "01101000",
    "01100111",  "011001100", "011001101", "011010010", "011010011", "011010100", "011010101", "011010110", "011010111",
    "011011000", "011011001", "011011010", "011011011", "010011000", "010011001", "010011010", "011000",    "010011011",
};
const char* const kBlackMakeUp[27] = {
    "0000001111",    "000011001000",  "000011001001",  "000001011011",  "000000110011",  "000000110100",
    "000000110101",  "0000001101100", "0000001101101", "0000001001010", "0000001001011", "0000001001100",
    "0000001001101", "0000001110010", "0000001110011", "0000001110100", "0000001110101", "0000001110110",
    "0000001110111", "0000001010010", "0000001010011", "0000001010100", "0000001010101", "0000001011010",
    "0000001011011", "0000001100100", "0000001100101",
};
const char* const kEol = "000000000001";

void Put16(std::vector<unsigned char>& out, unsigned v) {
    out.push_back((unsigned char)(v & 0xFF));
    out.push_back((unsigned char)(v >> 8));
}

void PutRecord(std::vector<unsigned char>& out, unsigned run, const char* white, const char* black) {
    Put16(out, run);
    Put16(out, unsigned(strlen(white)));
    Put16(out, unsigned(strlen(black)));
    for (const char* code : {white, black})
        for (size_t i = 0; i < 16; ++i)
            out.push_back(i < strlen(code) && code[i] == '1' ? 1 : 0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT_FILE\n", argv[0]);
        return 2;
    }
    std::vector<unsigned char> out;
    Put16(out, 91);
    for (unsigned r = 0; r < 64; ++r)
        PutRecord(out, r, kWhiteTerm[r], kBlackTerm[r]);
    for (unsigned k = 0; k < 27; ++k)
        PutRecord(out, 64 * (k + 1), kWhiteMakeUp[k], kBlackMakeUp[k]);
    PutRecord(out, 0, kEol, "");
    zz::FileHandle fFile = zz::FileHandle::Open(argv[1], "wb");
    FILE* f = fFile.get();
    if (!f || fwrite(out.data(), 1, out.size(), f) != out.size() || fFile.Close() != 0) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
