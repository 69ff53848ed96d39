// The reserved words of the engine's SQL language: the enumeration TReservedWord (292 words and
// rwNone) and their upper-case texts in enumeration order. Ordinals 0-229 are the standard's
// reserved words in alphabetical order (with MEMORY, MINUS and TOP in their places), 230-291 the
// engine's own words. The texts are constants; nothing here allocates or throws.
#pragma once

#include <cstdint>
#include <string_view>

namespace nrd {

// clang-format off
enum TReservedWord : std::uint16_t {
  rwABSOLUTE, rwACTION, rwADD, rwALL, rwALLOCATE, rwALTER, rwAND, rwANY, rwARE, rwAS, rwASC, rwASSERTION, rwAT,
  rwAUTHORIZATION, rwAVG, rwBEGIN, rwBETWEEN, rwBIT, rwBIT_LENGTH, rwBOTH, rwBY, rwCASCADE, rwCASCADED, rwCASE,
  rwCAST, rwCATALOG, rwCHAR, rwCHARACTER, rwCHAR_LENGTH, rwCHARACTER_LENGTH, rwCHECK, rwCLOSE, rwCOALESCE,
  rwCOLLATE, rwCOLLATION, rwCOLUMN, rwCOMMIT, rwCONNECT, rwCONNECTION, rwCONSTRAINT, rwCONSTRAINTS, rwCONTINUE,
  rwCONVERT, rwCORRESPONDING, rwCOUNT, rwCREATE, rwCROSS, rwCURRENT, rwCURRENT_DATE, rwCURRENT_TIME,
  rwCURRENT_TIMESTAMP, rwCURRENT_USER, rwCURSOR, rwDATE, rwDAY, rwDEALLOCATE, rwDEC, rwDECIMAL, rwDECLARE,
  rwDEFAULT, rwDEFERRABLE, rwDEFERRED, rwDELETE, rwDESC, rwDESCRIBE, rwDESCRIPTOR, rwDIAGNOSTICS, rwDISCONNECT,
  rwDISTINCT, rwDOMAIN, rwDOUBLE, rwDROP, rwELSE, rwEND, rwEND_EXEC, rwESCAPE, rwEXCEPT, rwEXCEPTION, rwEXEC,
  rwEXECUTE, rwEXISTS, rwEXTERNAL, rwEXTRACT, rwFALSE, rwFETCH, rwFIRST, rwFLOAT, rwFOR, rwFOREIGN, rwFOUND,
  rwFROM, rwFULL, rwGET, rwGLOBAL, rwGO, rwGOTO, rwGRANT, rwGROUP, rwHAVING, rwHOUR, rwIDENTITY, rwIMMEDIATE, rwIN,
  rwINDICATOR, rwINITIALLY, rwINNER, rwINPUT, rwINSENSITIVE, rwINSERT, rwINT, rwINTEGER, rwINTERSECT, rwINTERVAL,
  rwINTO, rwIS, rwISOLATION, rwJOIN, rwKEY, rwLANGUAGE, rwLAST, rwLEADING, rwLEFT, rwLEVEL, rwLIKE, rwLOCAL,
  rwLOWER, rwMATCH, rwMAX, rwMEMORY, rwMIN, rwMINUS, rwMINUTE, rwMODULE, rwMONTH, rwNAMES, rwNATIONAL, rwNATURAL,
  rwNCHAR, rwNEXT, rwNO, rwNOT, rwNULL, rwNULLIF, rwNUMERIC, rwOCTET_LENGTH, rwOF, rwON, rwONLY, rwOPEN, rwOPTION,
  rwOR, rwORDER, rwOUTER, rwOUTPUT, rwOVERLAPS, rwPAD, rwPARTIAL, rwPOSITION, rwPRECISION, rwPREPARE, rwPRESERVE,
  rwPRIMARY, rwPRIOR, rwPRIVILEGES, rwPROCEDURE, rwPUBLIC, rwREAD, rwREAL, rwREFERENCES, rwRELATIVE, rwRESTRICT,
  rwREVOKE, rwRIGHT, rwROLLBACK, rwROWS, rwSCHEMA, rwSCROLL, rwSECOND, rwSECTION, rwSELECT, rwSESSION,
  rwSESSION_USER, rwSET, rwSIZE, rwSMALLINT, rwSOME, rwSPACE, rwSQL, rwSQLCODE, rwSQLERROR, rwSQLSTATE,
  rwSUBSTRING, rwSUM, rwSYSTEM_USER, rwTABLE, rwTEMPORARY, rwTHEN, rwTIME, rwTIMESTAMP, rwTIMEZONE_HOUR,
  rwTIMEZONE_MINUTE, rwTO, rwTOP, rwTRAILING, rwTRANSACTION, rwTRANSLATE, rwTRANSLATION, rwTRIM, rwTRUE, rwUNION,
  rwUNIQUE, rwUNKNOWN, rwUPDATE, rwUPPER, rwUSAGE, rwUSER, rwUSING, rwVALUE, rwVALUES, rwVARCHAR, rwVARYING,
  rwVIEW, rwWHEN, rwWHENEVER, rwWHERE, rwWITH, rwWORK, rwWRITE, rwYEAR, rwZONE,
  // The engine's own words.
  rwPASSWORD, rwBLOBBLOCKSIZE, rwBLOBCOMPRESSIONMODE, rwBLOBCOMPRESSIONALGORITHM, rwLAST_AUTOINC, rwMODIFY, rwNEW,
  rwINDEX, rwNOCASE, rwLTRIM, rwRTRIM, rwPOS, rwLENGTH, rwSYSDATE, rwNOW, rwTODATE, rwTOSTRING, rwAUTOINDEXES,
  rwNOAUTOINDEXES, rwINCREMENT, rwLASTVALUE, rwMAXVALUE, rwMINVALUE, rwCYCLED, rwNOMAXVALUE, rwNOMINVALUE,
  rwNOCYCLED, rwINITIALVALUE, rwSTARTVALUE, rwRENAME, rwSTART, rwFLUSH, rwAUTOINC, rwMIMETOBIN, rwROWNUM, rwIF,
  rwTRUNCATE, rwABS, rwACOS, rwASIN, rwATAN, rwCEIL, rwCOS, rwEXP, rwFLOOR, rwLOG, rwPOWER, rwRAND, rwROUND,
  rwSIGN, rwSIN, rwSQR, rwSQRT, rwHALFEVEN, rwHALFPOS, rwHALFNEG, rwHALFDOWN, rwHALFUP, rwRNDNEG, rwRNDPOS,
  rwRNDDOWN, rwRNDUP,
  rwNone
};
// clang-format on

inline constexpr int kReservedWordCount = 292;
static_assert(rwZONE == 229 && rwPASSWORD == 230 && rwRNDUP == 291 && rwNone == 292);

// The upper-case text of a word; "" for rwNone.
std::string_view ReservedWordText(TReservedWord word);

// The ordinal of the word that equals `text` ignoring case (ASCII letters), or -1.
int FindReservedWord(std::string_view text);

}  // namespace nrd
