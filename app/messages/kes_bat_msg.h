// Ids of the numbered messages in the tool's string table.
#ifndef KESTRANE_KES_BAT_MSG_H
#define KESTRANE_KES_BAT_MSG_H

#define IDS_CAPTION_INFO 5       // caption of the About box
#define IDS_CAPTION_WARNING 6    // caption of every warning box
#define IDS_CAPTION_CONFIRM 7    // kept in the table, not used
#define IDS_NO_PLUGIN 10         // start-up found no usable plug-in
#define IDS_CHOOSE_DIR 20        // instruction of the folder picker
#define IDS_DIR_MISSING 21       // the run's directory does not exist
#define IDS_LOG_SEARCHING 30
#define IDS_LOG_SEARCH_CANCELLED 31
#define IDS_LOG_NO_FILES 32
#define IDS_LOG_FILE_COUNT 33    // follows the number of files
#define IDS_LOG_STOPPED 34
#define IDS_LOG_COMPLETED 35
#define IDS_LOG_ERROR_COUNT 36   // follows the number of failed files
#define IDS_LOG_ONLINE_ONLY 37   // followed by the path of a file left online only
#define IDS_LOG_ONLINE_ONLY_COUNT 38  // follows the number of such files
// Why a file failed the tool's own check after a write, or its record.
#define IDS_REASON_CHECK_RESTORED 39
#define IDS_REASON_CHECK_NOT_RESTORED 40
#define IDS_REASON_NO_RECORD 41
#define IDS_NO_RECORD 42                // box: the run stopped without a record
#define IDS_MEMORY_ERROR 43      // the file list could not be created
#define IDS_FILE_IO_ERROR 44     // kept in the table, not used
#define IDS_PLUGIN_LOAD_FAILED 45
#define IDS_COMMENT_NOT_IN_CODE_PAGE 46  // the plug-in takes Shift_JIS only
#define IDS_TEXT_FILE_ENCODING 47        // a comment file in no known encoding

// Why a file failed, after its "Error : " line, for plug-ins that say so
// (those with WriteCommentW): IDS_REASON_BASE + the result code. Any other
// answer is told as a number (IDS_REASON_PLUGIN_ANSWER).
#define IDS_REASON_OPEN_READ 49          // the tool could not open or read it
#define IDS_REASON_BASE 50
#define IDS_REASON_REFUSED 51
#define IDS_REASON_READ_ONLY 52
#define IDS_REASON_FILE_FAILED 53
#define IDS_REASON_NO_MEMORY 54
#define IDS_REASON_CHANGED 55
#define IDS_REASON_UNEXPECTED 56
#define IDS_REASON_COMMENT_NOT_HELD 57
#define IDS_REASON_BACKUP_LEFT 58
#define IDS_REASON_COMMENT_TOO_LONG 59

// The preview: what a run would do to each file, without writing.
#define IDS_PREVIEW_TITLE 60
#define IDS_PREVIEW_COLUMNS 61       // the list's column headers, separated by tabs
#define IDS_PREVIEW_EXAMINING 62     // follows the number of files
#define IDS_PREVIEW_WRITE 63
#define IDS_PREVIEW_REFUSE 64        // followed by the reason in parentheses, where one is known
#define IDS_PREVIEW_ONLINE_ONLY 66   // the reason for a cloud file left online only
#define IDS_PREVIEW_CANNOT_TELL 67   // the plug-in has no ReadCommentW
#define IDS_PREVIEW_SUMMARY 68       // %1 files, %2 with a comment, %3 refused

// The undo of a run.
#define IDS_UNDO_JOURNAL_DAMAGED 69  // log: the files after a damaged record are unknown
#define IDS_UNDO_NOTHING 70          // box: no run to undo
#define IDS_UNDO_CONFIRM 71          // box: %1 time, %2 folder, %3 type, %4 files
#define IDS_UNDO_FILE_COUNT 72       // follows the number of files
#define IDS_UNDO_COMPLETED 73
#define IDS_UNDO_LEFT_CHANGED 74     // followed by the path of a file changed since the run
#define IDS_UNDO_LEFT_DAMAGED 75     // ...of one whose record is damaged
#define IDS_UNDO_LEFT_FAILED 76      // ...of one that could not be replaced
#define IDS_UNDO_LEFT_COUNT 77       // follows the number of files left
#define IDS_UNDO_UNREADABLE 78       // box: the journal cannot be read

// Why a file was not written, for the tool's own reasons.
#define IDS_REASON_NOT_IN_CODE_PAGE 79  // a character the plug-in's code page lacks
#define IDS_REASON_NAME_NOT_PLAIN 80    // a name the plain form of a path would change
#define IDS_REASON_UNSEARCHABLE 81      // a folder that could not be searched
#define IDS_REASON_DELETED_RESTORED 82  // the plug-in deleted the file; the tool put it back
#define IDS_UNDO_LEFT_MOVED 83          // followed by the path of a file moved or deleted since the run
#define IDS_UNDO_LEFT_HELD 84           // ...of one another program has open
#define IDS_UNDO_IN_USE 85              // box: the run is being written by a running tool
#define IDS_REASON_PLAN_CHECK 86        // the planned contents did not read back with the comment
#define IDS_REASON_HELD 87              // another program has the file open, and its name is not known
#define IDS_REASON_HELD_BY 88           // ...and %1 names the programs
#define IDS_REASON_ACCESS_DENIED 89
#define IDS_REASON_DISK_FULL 90
#define IDS_REASON_CLOUD_NOT_RUNNING 91  // the cloud provider that keeps the file is not running
#define IDS_REASON_PLUGIN_ANSWER 92     // %1: the answer of a plug-in whose codes mean nothing known

#endif
