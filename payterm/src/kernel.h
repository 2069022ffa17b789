// The bank-card kernel's shared steps: the card dialogue around the device
// layer, application selection, GET PROCESSING OPTIONS, the AFL records,
// GET DATA and the texts built from them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <initializer_list>
#include <string>

#include "emv_tlv.h"
#include "payterm.h"

namespace payterm {

// Data of one card answer, status word removed.
struct Reply {
  uint8_t buf[PAYTERM_APDU_RESP_MAX];
  size_t len = 0;
};

// One command through Dc_APDU (the command is copied first, so cmd may be
// constant). 0 with the answer's data, or the exchange's code.
int exchange(const uint8_t* cmd, size_t n, Reply* r);

// Terminal data offered to the card's data object lists.
struct TermData {
  uint8_t amount[6] = {0, 0, 0, 0, 0, 0x12};
  uint8_t other[6] = {0, 0, 0, 0, 0, 0};
  uint8_t country[2] = {0x01, 0x56};
  uint8_t tvr[5] = {0, 0, 0, 0x08, 0};
  uint8_t currency[2] = {0x01, 0x56};
  uint8_t type = 0x01;
  uint8_t un[4] = {0x12, 0x34, 0x56, 0x78};
  uint8_t ttq[4] = {0xF4, 0, 0, 0};
  uint8_t date[3] = {0, 0, 0};  // YYMMDD BCD, UTC
  uint8_t time[3] = {0, 0, 0};  // hhmmss BCD, UTC
  // The GENERATE AC lists may also name the objects the IC data carry and,
  // for the second one, the issuer's answer.
  bool risk = false;
  uint8_t arc[2] = {'Z', '3'};
  uint8_t iad91[16] = {0};
  size_t iad91Len = 0;
};
// Date and time fields from the current UTC time.
void set_now(TermData* td);
// The list (tag, one length byte, value; 0 at the end). Returns its length.
size_t terminal_list(const TermData& td, uint8_t* out, size_t cap);
// Four bytes from the system's random generator; false on failure.
bool random_bytes(uint8_t* out, size_t n);

// The application being worked with in the current dialogue.
struct Application {
  uint8_t aid[16] = {0};
  size_t aidLen = 0;
  bool builtin = false;
  uint8_t fci[PAYTERM_APDU_RESP_MAX];
  size_t fciLen = 0;
  uint8_t aip[2] = {0, 0};
  uint8_t afl[PAYTERM_APDU_RESP_MAX];
  size_t aflLen = 0;
  uint8_t gpo[PAYTERM_APDU_RESP_MAX];  // GET PROCESSING OPTIONS answer data
  size_t gpoLen = 0;
  uint8_t records[PAYTERM_RECORDS_MAX];  // the record templates as read
  size_t recLen = 0;
  uint8_t oda[PAYTERM_RECORDS_MAX];  // records signed for offline authentication
  size_t odaLen = 0;
};

// The application of the current card dialogue (process-wide).
Application& current_app();

// Dev_Open and Dev_Card; on a power-up failure the reader is closed. The
// interface character goes to icType when given. Starts a new card: the
// current application and a pending transaction are dropped first, so
// nothing read from an earlier card can reach this one's outputs.
int begin_dialogue(char* icType);
void end_dialogue();

// Payment directory (recursing into directory entries), else the first
// built-in AID; selects the application and fills aid, builtin and fci.
int select_application(Application* app);
// Contactless: the proximity directory first, then as above.
int select_contactless_application(Application* app);
// GET PROCESSING OPTIONS with the PDOL data built from td; fills aip, afl
// and gpo (gpo also on a failure answer, for the track-2 fallback). All
// three are emptied first, so a failure before the card answers leaves none.
int initiate(Application* app, const TermData& td);
// READ RECORD of every AFL record into records (and oda).
int read_records(Application* app);
// GET DATA 80 CA: the object's value (copied into value, up to cap) and
// its length. 0 or the exchange's code; PAYTERM_E_CARD_DATA when the
// answer lacks the tag.
int get_data(uint32_t tag, uint8_t* value, size_t cap, size_t* len);

// Last selected RID and AID as hex text (kept between calls).
const uint8_t* last_rid();
const char* last_aid_text();

// Finds tag in the records; null when absent.
bool find_record_object(const Application& app, uint32_t tag, Tlv* out);

// The card-information text for letters (A..Y, others skipped; more than
// PAYTERM_TAGLIST_MAX gives PAYTERM_E_BAD_INPUT); GET DATA letters ask the
// card when ask_card is set, else count as absent.
int card_info_text(const Application& app, const char* letters, bool ask_card, char* out);
// "4B5652", length, 4F, AID, 8202, AIP, records, interface character.
void card_record_text(const Application& app, char iface, char* out);
// PAN text of the digits before the first 'F' (or 'D' in track 2 data).
std::string digits_of(const uint8_t* v, size_t n);

// Upper-case hex of n bytes.
std::string hex_text(const uint8_t* p, size_t n);
// Copies s with a NUL into out when out is given.
void put_text(char* out, const std::string& s);
// Empties the caller's text outputs when a call starts, so that a call
// that fails leaves nothing of an earlier card in them.
inline void empty_texts(std::initializer_list<char*> outs) {
  for (char* out : outs)
    if (out != nullptr) out[0] = '\0';
}

// A transaction started by Dc_GenARQC and not yet completed.
struct Pending {
  bool open = false;
  TermData td;
};
Pending& pending();
// Every new card dialogue ends a pending transaction.
void drop_pending();

}  // namespace payterm
