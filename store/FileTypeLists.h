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
} // namespace tessaroo
