// The extension lists that define the file kinds of a listing. The same
// texts drive the search of a store, the groups of the results browser and
// the recovery subfolders, so they are kept in one place. Each is a run of
// "*.ext" patterns separated by '|'; matching against them is by substring.
#pragma once

namespace tessaroo
{
constexpr const char* PICTURE_TYPE_LIST =
    "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|*.sr2|*.arw|"
    "*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|*.orf|*.erf|*.indd|*.pef|"
    "*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga|*.thm|*.icns|";
constexpr const char* MUSIC_TYPE_LIST =
    "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|"
    "*.rm|*.ra|*.acd|*.amr|*.at3|*.caf|*.dss|*.m4r|*.nra|*.snd";
constexpr const char* OFFICE_TYPE_LIST =
    "*.doc|*.xls|*.ppt|*.odt|*.ods|*.pdf|*.docx|*.xlsx|*.pptx|*.ole|*.txt|"
    "*.xml|*.chm|*.htm|*.html|*.pst|*.dbx|*.wps|*.dps|*.et|*.one|*.mpp|*.mdb|"
    "*.accdb";
constexpr const char* VIDEO_TYPE_LIST =
    "*.rmvb|*.rm|*.mpeg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|*.3g2|*.m4b|*.mkv|*."
    "mts|"
    "*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|*.mod|*.mxf|*.lrv|";
constexpr const char* ARCHIVE_TYPE_LIST =
    "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso|*.exe|*.dmg|";
// A key holding this pattern also asks for files of no known kind.
constexpr const char* OTHER_TYPE_MARKER = "*.other";
// The second text of the archive kind: office formats that travel as
// containers, and the archives again.
constexpr const char* OFFICE_ARCHIVE_TYPE_LIST =
    "*.pdf|*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt|*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|*.ppsm|*.odp|"
    "*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|*.msg|*.zip|*.rar|*.gzip|*."
    "tar|"
    "*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";

// The kinds a user ticks.
enum FileKind : unsigned
{
    KIND_PHOTO = 1u << 0,
    KIND_MUSIC = 1u << 1,
    KIND_DOCUMENT = 1u << 2,
    KIND_VIDEO = 1u << 3,
    KIND_ARCHIVE = 1u << 4,
    KIND_OTHER = 1u << 5,
    KIND_ALL = (1u << 6) - 1,
};

// One kind: the word the command line takes, the recovery subfolder, the
// pattern texts a listing is run with, and the place of the kind when a
// file's subfolder is chosen by its extension.
struct FILE_KIND_ROW
{
    FileKind kind;
    const char* szWord;
    const char* szFolder;
    const char* szPatterns;
    const char* szMorePatterns; // null for all but the archive kind
    int nFolderOrder;           // subfolders are tested in this order (Other never matches)
};

// The one table of kinds, in the order a pattern list joins the texts of
// the ticked kinds. Where a text ends without a bar (Music, Document) its
// last pattern runs into the next kind's first one, as listings have always
// received it. A file's subfolder is chosen by testing Photo, Music, Video,
// Document, Archive: ".rm" is both music and video, and is music.
constexpr FILE_KIND_ROW FILE_KIND_TABLE[] = {
    {KIND_PHOTO, "photo", "photo", PICTURE_TYPE_LIST, nullptr, 0},
    {KIND_MUSIC, "music", "audio", MUSIC_TYPE_LIST, nullptr, 1},
    {KIND_DOCUMENT, "document", "document", OFFICE_TYPE_LIST, nullptr, 3},
    {KIND_VIDEO, "video", "video", VIDEO_TYPE_LIST, nullptr, 2},
    {KIND_ARCHIVE, "archive", "archive", ARCHIVE_TYPE_LIST, OFFICE_ARCHIVE_TYPE_LIST, 4},
    {KIND_OTHER, "other", "others", OTHER_TYPE_MARKER, nullptr, 5},
};
} // namespace tessaroo
