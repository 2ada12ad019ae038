// The behaviour of a card reader with one card: the core of the simulated card reader library
// (qxic.cpp), reused by the in-process double (tests/support/fake_card_reader.h). Items of
// the card read with ICGet, new values staged with ICPut and written all together by ICExecute,
// faults from CardFaults, and a journal line for every call. Where the card lives (memory, a file)
// and where the journal goes is up to the subclass. Standard C++ only.
//
// The reader answers like this:
//   ICReset()          0; forgets the started state and anything staged.
//   ICStart(port)      -1 when port is not the reader's port or no card is in the reader; else
//                      reads the card, forgets anything staged, 0.
//   ICGet(name, v)     -1 before a successful ICStart or for an item the card does not hold;
//                      else the item's value (at most 99 bytes) and its zero into v, 0.
//   ICPut(name, v)     -1 before ICStart, for an unknown item or a value over 99 bytes; else
//                      stages it, 0. The card does not change.
//   ICExecute(port)    -1 for another port, before ICStart, or with no card; else writes every
//                      staged value onto the card in the reader in one piece (all or nothing),
//                      forgets them, 0. With nothing staged the card is left as it is.
//   ICGeterrMsg(t)     the text of the last failure into t, shaped by the faults; 0.
// Journal lines: "ICReset()=0", "ICStart(1)=0", "ICGet(card_no)=0", "ICPut(name,value)=0",
// "ICExecute(1)=-1", "ICGeterrMsg()=0"; in arguments '\\', ',', ')' and line breaks are escaped
// with a backslash ("\\\\", "\\,", "\\)", "\\n").
#ifndef QX_TOOLS_CARD_SIM_SIMULATED_CARD_READER_H_
#define QX_TOOLS_CARD_SIM_SIMULATED_CARD_READER_H_

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "card-sim/card_faults.h"

namespace qxic {

using CardItems = std::map<std::string, std::string>;

class SimulatedCardReader {
 public:
  static constexpr std::size_t kMaxValueLength = 99;

  SimulatedCardReader() = default;
  SimulatedCardReader(const SimulatedCardReader&) = delete;
  SimulatedCardReader& operator=(const SimulatedCardReader&) = delete;
  virtual ~SimulatedCardReader() = default;

  int Reset();
  int Start(int port);
  int Get(const char* name, char* value);
  int Put(const char* name, const char* value);
  int Execute(int port);
  int GeterrMsg(char* text);

  CardFaults& faults() { return faults_; }
  int reader_port() const { return reader_port_; }
  void set_reader_port(int port) { reader_port_ = port; }
  const std::string& last_error() const { return last_error_; }

  // A journal line's escaping of one argument.
  static std::string EscapeArgument(std::string_view text);

 protected:
  // The card now in the reader; nullopt when there is none.
  virtual std::optional<CardItems> ReadCard() = 0;
  // Replaces the card's items, all or nothing. False with *error when it could not.
  virtual bool WriteCard(const CardItems& items, std::string* error) = 0;
  virtual void Journal(const std::string& line) = 0;

 private:
  int Fail(std::string text);
  // The result a fault forces on this call, recording its failure text; nullopt when none.
  std::optional<int> Injected(std::string_view entry, std::string_view item);
  int Record(std::string line, int result);

  CardFaults faults_;
  int reader_port_ = 1;
  bool started_ = false;
  CardItems card_;
  CardItems staged_;
  std::string last_error_;
};

}  // namespace qxic

#endif  // QX_TOOLS_CARD_SIM_SIMULATED_CARD_READER_H_
