// The peer of `tagcantorell-cli show --json` for timing whole processes: reads the tags and
// the audio properties of every file named on the command line through TagLib and prints
// one line per file, so that the two programs can be timed over the same list of names:
//
//   time tagcantorell-cli show --json $(cat names) > /dev/null
//   time taglib_read $(cat names) > /dev/null
#include <mpegfile.h>
#include <mpegproperties.h>
#include <tag.h>

#include <cstdio>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        TagLib::MPEG::File file(argv[i], true, TagLib::AudioProperties::Average);
        const TagLib::Tag* tag = file.tag();
        const TagLib::AudioProperties* audio = file.audioProperties();
        std::printf("%s\t%s\t%s\t%s\t%u\t%d\t%d\n", argv[i],
                    tag ? tag->title().toCString(true) : "",
                    tag ? tag->artist().toCString(true) : "",
                    tag ? tag->album().toCString(true) : "", tag ? tag->year() : 0u,
                    audio ? audio->bitrate() : 0, audio ? audio->lengthInMilliseconds() : 0);
    }
    return 0;
}
