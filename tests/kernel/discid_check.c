/* What libdiscid reads from a drive: its freedb and MusicBrainz disc IDs,
 * the media catalog number and each track's ISRC, one per line:
 *
 *   discid-check DEVICE
 */
#include <discid/discid.h>
#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: discid-check DEVICE\n");
        return 2;
    }
    DiscId* disc = discid_new();
    if (!discid_read_sparse(disc, argv[1], DISCID_FEATURE_MCN | DISCID_FEATURE_ISRC)) {
        fprintf(stderr, "discid-check: %s\n", discid_get_error_msg(disc));
        return 1;
    }
    printf("freedb %s\nmusicbrainz %s\nmcn %s\n", discid_get_freedb_id(disc), discid_get_id(disc),
           discid_get_mcn(disc));
    for (int track = discid_get_first_track_num(disc); track <= discid_get_last_track_num(disc);
         ++track) {
        printf("isrc %d %s\n", track, discid_get_track_isrc(disc, track));
    }
    discid_free(disc);
    return 0;
}
