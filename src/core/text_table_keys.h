// The keys of the text table with their built-in English defaults, in table
// order. This list is the single source of the keys: text_table.h makes the
// TextId enumeration from it and text_table_data.cc the table of defaults.
//
// Each entry is X(key, default). A default is byte exact: trailing blanks are
// part of the text, and \r and \n stand for the line breaks that the console
// shows. Keys live in the section "WINDOWSTRINGS" of VANTREL.INI.
//
// A few keys are loaded by more than one entry of the table (see
// kSecondaryDefaults in text_table_data.cc); they are listed here once, with
// the default that takes effect.
#pragma once

// clang-format off
#define VANTREL_TEXT_TABLE(X) \
  X(IDS_ADD, "Add") \
  X(IDS_EDIT, "Edit") \
  X(IDS_DEL, "Delete") \
  X(IDS_REPLACE, "Replace") \
  X(IDS_YES, "Yes") \
  X(IDS_NO, "No") \
  X(IDS_OK, "OK") \
  X(IDS_CANCEL, "Cancel") \
  X(IDS_CONTINUE, "Continue") \
  X(IDS_CREATEDIR, "Create dir") \
  X(IDS_DELETESURE, "Delete ") \
  X(IDS_DELETEPATH, "Are you sure you want to remove ") \
  X(IDS_DIRECTORY, "Select Folder") \
  X(IDS_DRIVE, "Select Drive") \
  X(IDS_CANCELED, "CANCELED") \
  X(IDS_AREYOUSURE, "Do you want to exit Vantrel?") \
  X(IDS_QUITPROG, "Quit program") \
  X(IDS_DIRNAME, "Folder name:") \
  X(IDS_NEWFOLDER, "New") \
  X(IDS_INDEX, "Index Folder") \
  X(IDS_INPUT, "Images Folders") \
  X(IDS_INACTIVELIST, "STOPPED") \
  X(IDS_ACTIVELIST, "*ACTIVE*") \
  X(IDS_DELFTPENTRY, "Delete COPY Entry") \
  X(IDS_STATUSGOOD, "STATUS OK") \
  X(IDS_STATUSTRANSFER, "TRANSFER IN PROGRESS") \
  X(IDS_STATUSBAD, "LAST TRANSFER FAILED") \
  X(IDS_OPEN, "Open") \
  X(IDS_SELECTFOLD, "Select Folder...") \
  X(IDS_NEWSTRING, "New String") \
  X(IDS_ASCIIVAL, "Ascii Value") \
  X(IDS_MAPFILENAME, "Set Filename Map") \
  X(IDS_WEEKDAY1, "Mon") \
  X(IDS_WEEKDAY2, "Tue") \
  X(IDS_WEEKDAY3, "Wed") \
  X(IDS_WEEKDAY4, "Thu") \
  X(IDS_WEEKDAY5, "Fri") \
  X(IDS_WEEKDAY6, "Sat") \
  X(IDS_WEEKDAY7, "Sun") \
  X(IDS_RENFOLDER, "Rename") \
  X(IDS_DELETEFOLDER, "Delete") \
  X(IDS_ENABLESETUP, "Enable Edit") \
  X(IDS_DISABLESETUP, "Disable Edit") \
  X(IDS_NEWFOLDERNAME, "New Index name") \
  X(IDS_FRAMEINDEX, "Index Folder") \
  X(IDS_FRAMEIMAGEDIR, "Image Folder") \
  X(IDS_FRAMEFILEFORMAT, "File Format") \
  X(IDS_DAYS, "days") \
  X(IDS_ALLOWNUMBER, "Allow max files:") \
  X(IDS_DELETEAFTER, "Delete after days:") \
  X(IDS_COPYTOARCHIVE, "Copy to archive before delete") \
  X(IDS_PASSWORD, "Password:") \
  X(IDS_NEWPASSWORD, "New Password:") \
  X(IDS_CONFIRMPASSWORD, "Confirm Password:") \
  X(IDS_NEEDPASSWORD, "Edit is password protected") \
  X(IDS_BADPASSWORD, "Password error, try again") \
  X(IDS_MISSPASSWORD, "Passwords did not match, try again") \
  X(IDS_CONFSELECT, "Show Configuration:") \
  X(IDS_CHANGEPASSWORD, "Change Password") \
  X(IDS_CONVERTFOLDER1, "Index Setup - Paths") \
  X(IDS_CONVERTFOLDER2, "Index Setup - Options") \
  X(IDS_CONVERTFOLDER3, "PDF Options") \
  X(IDS_FILEMANAGEMENT, "File Management Folders") \
  X(IDS_ADDPATH, "Add Path") \
  X(IDS_MACVOL, "Set Macintosh Volume") \
  X(IDS_MACVOLNAME, "Macintosh Volume Name (Enter for none):") \
  X(IDS_WINVOL, "Set Windows Name") \
  X(IDS_WINVOLNAME, "Windows Network name (Enter for none):") \
  X(IDS_NETNAME, "Set Network Names ") \
  X(IDS_SETOPTIONS, "Set Options") \
  X(IDS_REMOVEPATH, "Remove Path") \
  X(IDS_NONE, "(none set)") \
  X(IDS_WINLABEL, "Windows Share") \
  X(IDS_MACLABEL, "Macintosh Volume") \
  X(IDS_INDEXLABEL, "Current Index:") \
  X(IDS_FOLDERLABEL, "Current Folder: ") \
  X(IDS_FILELABEL, "Current File: ") \
  X(IDS_EDITON, \
    "Enable Edit will stop the processing task. \rDo you " \
    "want to enable edit?") \
  X(IDS_EDITOFF, \
    "Disable Edit will start the processing task. \rDo you " \
    "want to disable edit?") \
  X(IDS_CONVERTTEXT, "Convert text from Macintosh ascii") \
  X(IDS_DOCINFO, "Index Adobe Photoshop Document Info") \
  X(IDS_OPTIMIZEINDEX, "Automatic Index Optimization") \
  X(IDS_UNUSEDENTRIES, "Unused entries threshold: ") \
  X(IDS_OPTIMIZETIME, "Time of day to Run Optimize: ") \
  X(IDS_OPTIONS, "Options") \
  X(IDS_INCLUDESUB, "Include subfolders") \
  X(IDS_SPACEWARNING, "Issue warning when free disk space is low") \
  X(IDS_MINSPACE, "Issue warning when free space is below: ") \
  X(IDS_USEMAXBROWSESIZE, "Set limit on images for browsing") \
  X(IDS_SETMAXBROWSE, "Maximum number of images that can be browsed: ") \
  X(IDS_CLEARLOG, "Clear Log") \
  X(IDS_LOGFILE, "Log File") \
  X(IDS_LOGOPTION, "Log Options") \
  X(IDS_LASTACTIVITY, "Last Activity") \
  X(IDS_CURRSTATUS, "Current Status") \
  X(IDS_LASTSCAN, "Last Folder Scanned:") \
  X(IDS_LASTINDEX, "Last File Indexed:") \
  X(IDS_LASTSEARCH, "Last Search:") \
  X(IDS_ACTIVITY, "Operation:") \
  X(IDS_LINELABEL11, "Search") \
  X(IDS_LINELABEL12, "Scanning Directory") \
  X(IDS_LINELABEL13, "Indexing File") \
  X(IDS_LINELABEL21, "Index File: ") \
  X(IDS_LINELABEL31, "Search Word: ") \
  X(IDS_LINELABEL41, "Search Result: ") \
  X(IDS_LINELABEL22, "Index File: ") \
  X(IDS_LINELABEL32, "Folder: ") \
  X(IDS_LINELABEL42, "File: ") \
  X(IDS_LINELABEL23, "Index File: ") \
  X(IDS_LINELABEL33, "File: ") \
  X(IDS_LINELABEL43, "Number of Words: ") \
  X(IDS_SECONDS, "Seconds") \
  X(IDS_WORDS, "Words") \
  X(IDS_HITSFOUND, "Hits found in ") \
  X(IDS_WATCHING, "Watching ") \
  X(IDS_DIRECTORIES, "Folders") \
  X(IDS_TOTOL, "Total number of images") \
  X(IDS_UNUSED, "Unused DB entries") \
  X(IDS_DISKS, "Disks: ") \
  X(IDS_DATABASE, "Database: ") \
  X(IDS_MEMORY, "Memory: ") \
  X(IDS_INDEXES, "Index Files") \
  X(IDS_SUBDIRS, "Subfolders") \
  X(IDS_FILES, "Files") \
  X(IDS_MEMFREE, "Free Memory ") \
  X(IDS_MEMUSED, "Used Memory") \
  X(IDS_SWAPFREE, "Free Swapfile") \
  X(IDS_MEMLOAD, "Memory Load") \
  X(IDS_STARTED, "Vantrel Started") \
  X(IDS_SCANNING, "Scanning Folder: ") \
  X(IDS_OPTIMIZING, "Optimizing Index: ") \
  X(IDS_REBUILDING, "Rebuilding Index") \
  X(IDS_RESCANNING, "Scanning all Folder") \
  X(IDS_WARNING, "Warning Sent: ") \
  X(IDS_APPQUIT, "Vantrel Terminating") \
  X(IDS_PROCSTARTED, "Database Process Task Started ") \
  X(IDS_PROCSTOP, "Database Process Task Stopped") \
  X(IDS_USELOG, "Use Log File") \
  X(IDS_LOGDAY, "New Log File Every Day") \
  X(IDS_LOGWEEK, "New Log File Every Week") \
  X(IDS_LOGINDEX, "Log Every New File ") \
  X(IDS_LOGSEARCH, "Log Every Search") \
  X(IDS_EVENTLOG, "Event Log") \
  X(IDS_INDEXLIST, "List of Indexes") \
  X(IDS_STATISTICSFOR, "Statistics for Index: ") \
  X(IDS_SEARCHDATA, "Search Load: ") \
  X(IDS_SEARCHPERDAY, "Search/day") \
  X(IDS_AVESEARCHTIME, "Sec. Average Search Time") \
  X(IDS_AVEHITS, "Average Hits/Search") \
  X(IDS_OLDESTFILE, "Oldest File") \
  X(IDS_NEWESTFILE, "Newest File") \
  X(IDS_CLEARSEARCHSTAT, "Clear Search Statistics") \
  X(IDS_SELECTTHISFOLDER, "Select: ") \
  X(IDS_BADPATH, "does not exist.\nThe Index is stopped!") \
  X(IDS_BADNESTED, \
    "can NOT be in an Image Folder.\nMove the Index Folder " \
    "out of the Image Folder\nor select a different Image " \
    "Folder!") \
  X(IDS_ERROR, "Error") \
  X(IDS_FATALDBERROR, "Fatal Database Error, Index Stopped!") \
  X(IDS_TEXTPROBLEM, "Problem with the text in file") \
  X(IDS_PDFPATH, "PDF Folder") \
  X(IDS_PDFTHUMBS, "PDF Thumbnails and Previews Folder") \
  X(IDS_CHANGE, "Change") \
  X(IDS_PDFOPTIONS, "PDF Options") \
  X(IDS_THUMBSIZE, "Thumbnail Size") \
  X(IDS_PREVIEWSIZE, "Preview Size") \
  X(IDS_CREATELEADINGPREVIEW, "Create Additional Preview Of Leading Pages") \
  X(IDS_PDFNOTSETUP, \
    "The PDF folder is not set.\r\nThis folder is used to " \
    "store the PDF thumbnails and previews. If you do not " \
    "need PDF support, press NO. If you want to select the " \
    "folder wher Vantrel stores PDF thumbnails press YES.") \
  X(IDS_PDFSUPPORT, "Adobe PDF Support") \
  X(IDS_COMPACTINGINDEX, "Optimizing Index: ") \
  X(IDS_COMPACTINGINDEXDONE, "Optimize Completed") \
  X(IDS_NOWSTOPPING, "Database Process Shutting Down, Wait...") \
  X(IDS_RESTOREINDEX, "Restoring Index: ") \
  X(IDS_BACKUPINDEX, "Backing Up Index: ") \
  X(IDS_READYFORSEARCH, "Database Process Ready for Search") \
  X(IDS_ADDINGTEXT, "Adding Text to Index ") \
  X(IDS_IMREADY, "Ready") \
  X(IDS_INDEXEMPTY1, "Do not Index Empty Fields") \
  X(IDS_INDEXEMPTY2, "Index The Most Common Empty Fields") \
  X(IDS_INDEXEMPTY3, "Index All Empty Fields") \
  X(IDS_TEXTOPTIONS, "Text Options") \
  X(IDS_NOAUTOWATCH, "Could not set automatic fast indexing on folder") \
  X(IDS_READFILELIST, "Reading File List") \
  X(IDS_INITINDEX, "Initializing index:") \
  X(IDS_WAITFORPDFTHUMBS, \
    "PDF Thumbnails are being created.\nIf you want to wait " \
    "for this operation to complete, press YES\nTo abort " \
    "thumbnail creation press NO")
// clang-format on
