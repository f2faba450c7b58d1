// The choices a serial line offers wherever they are picked (the terminal's
// toolbar, the properties dialog): the list index is the stored code (data
// bits: code - 5), each entry with its catalog key (null: the text is shown as
// it stands) and its English text.
#pragma once

#include <cstdint>

struct TChoice {
    const char* Key;
    const char16_t* Text;
};

// The baud box's list; the stored value is the rate itself.
constexpr int32_t kBaudRates[] = {300,    600,    1200,    2400,    4800,    9600,   14400,  19200,
                                  28800,  38400,  57600,   76800,   115200,  230400, 460800, 500000,
                                  576000, 921600, 1000000, 1500000, 2000000, 3000000};
constexpr TChoice kDataBitsChoices[] = {
    {nullptr, u"5"}, {nullptr, u"6"}, {nullptr, u"7"}, {nullptr, u"8"}};
constexpr TChoice kStopBitsChoices[] = {
    {nullptr, u"1"}, {"serial.stop_half", u"1.5"}, {nullptr, u"2"}};
constexpr TChoice kParityChoices[] = {{"choice.none", u"None"},
                                      {"parity.odd", u"Odd"},
                                      {"parity.even", u"Even"},
                                      {"parity.mark", u"Mark"},
                                      {"parity.space", u"Space"}};
// How a sent line is read (list index = send mode): the terminal's toolbar,
// the stored commands of the properties dialog.
constexpr TChoice kSendModeChoices[] = {{"send.mode_text", u"Text"},
                                        {"send.mode_escapes", u"Text with escapes"},
                                        {"send.mode_hex", u"Hex"}};
constexpr TChoice kFlowChoices[] = {
    {"choice.none", u"None"}, {nullptr, u"RTS/CTS"}, {nullptr, u"XON/XOFF"}, {nullptr, u"DTR/DSR"}};
