// Identifiers of Setup's string table. The texts are in setup.rc beside
// this file; a language module gives its own texts for the same identifiers.
#pragma once

#include <cstdint>

namespace nuva::string_id {

inline constexpr uint32_t kFirst = 101;
inline constexpr uint32_t kLast = 188;

inline constexpr uint32_t kAboutMenuItem = 101;
inline constexpr uint32_t kCopyComplete = 109;
inline constexpr uint32_t kUpdateFinishing = 110;
inline constexpr uint32_t kRestoreFinishing = 111;
inline constexpr uint32_t kFormatNoticeUpdate = 112;
inline constexpr uint32_t kFormatNoticeRestore = 113;
inline constexpr uint32_t kClassAdvanced = 119;
inline constexpr uint32_t kClassBasic = 120;
inline constexpr uint32_t kLanguageEnglish = 121;
inline constexpr uint32_t kLanguageFrench = 122;
inline constexpr uint32_t kLanguageGerman = 123;
inline constexpr uint32_t kLanguageSpanish = 124;
inline constexpr uint32_t kLanguageItalian = 125;
inline constexpr uint32_t kCaution = 126;
inline constexpr uint32_t kUpdateCompleteCaption = 127;
inline constexpr uint32_t kConnectHint = 128;
inline constexpr uint32_t kRestoreCompleteCaption = 129;
inline constexpr uint32_t kCopyIncomplete = 130;
inline constexpr uint32_t kCopyingFiles = 132;
inline constexpr uint32_t kReflashCorrupt = 133;
inline constexpr uint32_t kImageMissing = 134;
inline constexpr uint32_t kImageCorrupt = 135;
inline constexpr uint32_t kConnectionLostHeading0 = 137;
inline constexpr uint32_t kConnectionLostHeading1 = 138;
inline constexpr uint32_t kConnectionLostHeading2 = 139;
inline constexpr uint32_t kModelFormat = 140;      // "%s": class word
inline constexpr uint32_t kDeviceRomFormat = 141;  // "%ls", "%08x", "%s"
inline constexpr uint32_t kLanguageFormat = 143;   // "%s": language name
inline constexpr uint32_t kOsPocketPc2002 = 144;
inline constexpr uint32_t kOsPocketPc2003 = 145;
inline constexpr uint32_t kOsPocketPcOther = 147;
inline constexpr uint32_t kBackupFileNameFormat = 148;  // "%ls", "%c", "%08x", "%s"
inline constexpr uint32_t kSaveRomTitle = 149;
inline constexpr uint32_t kBackupProgressFormat = 150;  // "%2d"
inline constexpr uint32_t kUpdateTitle = 151;
inline constexpr uint32_t kUpdateHeading = 152;
inline constexpr uint32_t kUpdateExplanation = 153;
inline constexpr uint32_t kRestoreTitle = 155;
inline constexpr uint32_t kRestoreHeading = 156;
inline constexpr uint32_t kRestoreExplanation = 157;
inline constexpr uint32_t kReasonHeading0 = 159;
inline constexpr uint32_t kReasonHeading1 = 160;
inline constexpr uint32_t kReasonHeading2 = 161;
inline constexpr uint32_t kReasonSameRom = 163;
inline constexpr uint32_t kReasonNoAcPower = 164;
inline constexpr uint32_t kReasonLanguage = 165;
inline constexpr uint32_t kReasonLowBattery = 166;
inline constexpr uint32_t kReasonOtherDevice = 168;
inline constexpr uint32_t kReasonDiskSpace = 169;
inline constexpr uint32_t kReasonDowngradeFormat = 170;  // "%s(%s)" twice
inline constexpr uint32_t kOsChangeNotice1 = 172;
inline constexpr uint32_t kBackupTitleBeforeUpdate = 173;
inline constexpr uint32_t kBackupTitlePlain = 174;
inline constexpr uint32_t kUpdateDoneTitle = 175;
inline constexpr uint32_t kRestoreOpenTitle = 176;
inline constexpr uint32_t kRisFileFilter = 177;
inline constexpr uint32_t kRestoreDoneTitle = 178;
inline constexpr uint32_t kOsChangeNotice2 = 179;
inline constexpr uint32_t kDeviceTextBackup = 180;
inline constexpr uint32_t kDeviceTextPlainBackup = 181;
inline constexpr uint32_t kDeviceTextBackupDone = 182;
inline constexpr uint32_t kDeviceTextPlainBackupDone = 183;
inline constexpr uint32_t kDeviceTextUpdateCopy = 184;
inline constexpr uint32_t kDeviceTextRestoreCopy = 185;
inline constexpr uint32_t kNextButton = 187;
inline constexpr uint32_t kExitButton = 188;

}  // namespace nuva::string_id
