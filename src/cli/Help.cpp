// The help texts of quillon-cli, printed by --help. The command table (CommandTable.cpp)
// declares and names each one; `extern` gives the constants external linkage.

namespace quillon::cli {

// The main help around the command list, which CommandTable.cpp makes from the table.
extern const char *const kMainHelpIntro =
    R"(Usage: quillon-cli COMMAND [OPTIONS]

Quillon's noise-figure meter without a window.

Commands:
)";

extern const char *const kMainHelpNotes =
    R"(
Every command takes --json (full-precision numbers for scripts) and --help.
Exit status: 0 done, 1 the measurement failed, 2 bad input, 130 interrupted
(143 SIGTERM, 129 SIGHUP: these end a measurement as Ctrl-C does).
Settings come from ~/.config/Tremont/Quillon.conf, as the window program keeps them.
)";

extern const char *const kDevicesHelp =
    R"(Usage: quillon-cli devices [--json]

Lists the sound inputs in device-number order (the virtual bench last), each with the
capture formats it supports (format-table row and label), then the switch ports the Setup
page would offer.
)";

extern const char *const kLevelHelp =
    R"(Usage: quillon-cli level FILE [--time MS] [--highpass] [--average N] [--decimals D] [--json]

Reads a WAV file (16- or 24-bit PCM, mono or stereo, 11025 to 96000 Hz) and prints for
every block of the capture time its level in dB relative to full scale, its crest factor
and its peak term, computed exactly as the Measure Noise page computes a captured block
(the first channel of a stereo file). The last line measures the whole file as one block.
FILE may be a FIFO, or - for standard input (arecord -t wav ... | quillon-cli level -).

  --time MS      capture time: 100, 1000 (default) or 10000 ms
  --highpass     the 1 kHz high-pass filter before measuring
  --average N    running average over N blocks (1 to 32), as the page's "Enable"
  --decimals D   decimals of the shown numbers, 0 to 3 (default: the stored setting)
)";

extern const char *const kCalcHelp =
    R"(Usage: quillon-cli calc MODE [OPTIONS] [--json]

The calculator's four modes on typed values; results as the window shows them.

  calc simple    --te K | --factor F | --nf DB   [--t0 K] [--bandwidth KHZ]
  calc system    --on DB --off DB                 [ENR] [--tsoff K] [--t0 K] [--bandwidth KHZ]
  calc device    --on DB --off DB --dut-on DB --dut-off DB
                                                  [ENR] [--tsoff K] [--t0 K] [--bandwidth KHZ]
  calc calibrate --on DB --off DB --unknown-on DB --unknown-off DB
                                                  [ENR] [--tsoff K] [--unknown-tsoff K] [--t0 K]
                                                  [--bandwidth KHZ [--nf DB]]

  --on, --off          readings with the (calibrated) noise source on and off, dB
  --dut-on, --dut-off  readings with the DUT in circuit, dB
  --unknown-on/-off    readings with the source being calibrated, dB
  ENR                  --enr DB, or --freq MHZ with --enr-file FILE (or the stored file);
                       default: the stored entry of the Measure Device page
  --tsoff K            off temperature of the (reference) source (default: stored, 293)
  --unknown-tsoff K    off temperature of the source being calibrated (default: --tsoff)
  --t0 K               reference temperature (default: stored, 290)
  --bandwidth KHZ      receiver noise bandwidth: also prints the noise floor in dBm
  --nf DB              calibrate: the receiver noise figure for that floor (default 0 dB)
  --decimals D         0 to 3 (default: the stored setting)
)";

extern const char *const kEnrHelp =
    R"(Usage: quillon-cli enr FILE [FREQ_MHZ...] [--json]

Reads an ENR calibration file (frequency in MHz, ENR in dB per line) and prints its rows
in ascending frequency, then the ENR interpolated at each FREQ_MHZ. A file that cannot be
read prints the reader's message and exits with status 2.
)";

// The device options every capturing command takes, and the one frequency of measure and
// calibrate.
#define QUILLON_DEVICE_HELP                                                                        \
    "  --device N         input device number (see quillon-cli devices)\n"                         \
    "  --format ROW       capture format row 0 to 19 (default: the stored format)\n"              \
    "  --time MS          capture time per block: 100, 1000 (default) or 10000 ms\n"             \
    "  --dummy N          blocks discarded before each reading, 0 to 10 (default: stored)\n"
#define QUILLON_FREQUENCY_HELP                                                                     \
    "  --freq MHZ         the frequency measured: the calibration file (--enr-file, else the\n"    \
    "                     stored file) is read there (default: the stored entry)\n"

// The noise source's options: one rule for measure and sweep (EnrSource.h), one text.
#define QUILLON_NOISE_SOURCE_HELP                                                                  \
    "\n"                                                                                           \
    "The (calibrated) noise source, by the same rule in measure, calibrate and sweep:\n"                                   \
    "  --enr DB           a typed ENR, 0 to 50 dB, the same at every frequency\n"                  \
    "  --enr-file FILE    an ENR calibration file (MHz, dB, optionally the ENR's\n"                \
    "                     95% half-width in dB), read at the frequency measured\n"                 \
    "  neither            the bench's own source on the bench; else the stored\n"                  \
    "                     calibration file while in use, else the stored ENR\n"                    \
    "  --enr-uncertainty DB   the ENR's 95% half-width, 0 to 3 dB (default: the\n"                 \
    "                     file's third column at the frequency measured where it\n"                \
    "                     gives one, else the stored value; 0 on the bench, whose\n"               \
    "                     sources are exactly known)\n"                                            \
    "  --tsoff K          off temperature of the noise source (default: stored,\n"                 \
    "                     or the bench's)\n"                                                       \
    "  --tsoff-uncertainty K  its 95% half-width (default: stored; 0 on the bench)\n"              \
    "  --t0 K             reference temperature (default: stored, or 290 on the\n"                 \
    "                     bench)\n"

extern const char *const kMeasureHelp =
    R"(Usage: quillon-cli measure [OPTIONS] [--json]

Takes the Measure Device series: noise source ON and OFF with the DUT out of circuit, then
(unless --system) ON and OFF with the DUT in circuit; prints each reading in dB and the
gain, noise temperature, noise factor and noise figure. Without --device it measures the
virtual bench (as fast as it can generate) and also prints the bench's true values.
Every result is followed by its 95% half-widths, statistical and total, and any warning
about the readings (settling, compression or AGC, headroom, a tone in the passband).

)" QUILLON_DEVICE_HELP R"(  --average N        blocks averaged per reading, 1 to 32 (default: stored averaging)
  --precision DB     average each reading until the noise figure's statistical 95%
                     half-width is at most DB (replaces --average)
  --max-time S       longest counted time of one reading with --precision (default 60)
  --auto-dummy       also discard blocks while the level still settles (at most 10)
  --highpass, --no-highpass   the 1 kHz high-pass filter (default: the stored setting)
  --system           overall system noise figure: two readings, no gain
  --port NAME        switch port: a serial device, USB, Virtual bench or None (default:
                     Virtual bench for the bench, else the stored port). With None you are
                     asked to set the switches by hand and press Enter.
  --noise-line L     noise-source output: rts or dtr (serial), 0 to 7 (USB data bit)
  --dut-line L       DUT switch output, as --noise-line
  --repeat N         run the series N times (default 1); 0 repeats until Ctrl-C, after
                     which --json prints the runs taken ("cutShort" marks an unfinished one);
                     --json prints each run as it ends
  --log FILE         append an "NF" line per reading to FILE
  --decimals D       0 to 3 (default: the stored setting)
)" QUILLON_NOISE_SOURCE_HELP QUILLON_FREQUENCY_HELP;

extern const char *const kCalibrateHelp =
    R"(Usage: quillon-cli calibrate [OPTIONS] [--json]

Takes the Calibrate Noise Source series: the calibrated (reference) noise source ON and OFF,
then the unknown noise source ON and OFF, the DUT switch output selecting the unknown one;
prints each reading in dB and the unknown source's ENR ("Computed ENR") with its 95%
half-widths, statistical and total, and any warning about the readings. Without --device
it calibrates the virtual bench's unknown source and also prints its true ENR. Output
forms and exit statuses are those of measure.

)" QUILLON_DEVICE_HELP R"(  --average N        blocks averaged per reading, 1 to 32 (default: stored averaging)
  --auto-dummy       also discard blocks while the level still settles (at most 10)
  --highpass, --no-highpass   the 1 kHz high-pass filter (default: the stored setting)
  --port NAME        switch port: a serial device, USB, Virtual bench or None (default:
                     Virtual bench for the bench, else the stored port). With None you are
                     asked to connect and switch the sources by hand and press Enter.
  --noise-line L     noise-source output: rts or dtr (serial), 0 to 7 (USB data bit)
  --dut-line L       the output that selects the unknown source, as --noise-line
  --tsoff-unknown K  off temperature of the unknown source (default: the stored TSoff,
                     or the bench's)
  --repeat N         run the series N times (default 1); 0 repeats until Ctrl-C
  --log FILE         append an "ENR" line per reading to FILE
  --decimals D       0 to 3 (default: the stored setting)
)" QUILLON_NOISE_SOURCE_HELP QUILLON_FREQUENCY_HELP;

extern const char *const kSpectrumHelp =
    R"(Usage: quillon-cli spectrum FILE [--fft N] [--highpass] [--average N] [--all] [--json]

Reads a WAV file (16- or 24-bit PCM, mono or stereo, 11025 to 96000 Hz; a FIFO, or - for
standard input, of a stated length), cuts it into blocks of N frames and turns each into a power spectrum in dB relative to full scale
exactly as the Show Spectrum page does (first channel, Hann window, FFT, 10 log10(P / N)).
Prints the last row (bin, frequency, dB), then the passband read from it: the peak, the
-3 dB edges and the equivalent noise bandwidth in Hz. Frames after the last whole block
are not used.

  --fft N        FFT size: 1024, 2048, 4096, 8192 (default), 16384 or 32768
  --highpass     the 1 kHz high-pass filter on the windowed samples
  --average N    each row the mean (in dB) of the last N rows, 1 to 32, as the page's
                 "Average" with that averaging count
  --all          every block's row, one line per block, instead of the last row
)";

extern const char *const kBenchHelp =
    R"(Usage: quillon-cli bench [--json]

The virtual bench's truth at its current settings (group VirtualBench of the settings
file): the noise temperatures, noise figures, gain and Y factors a correct measurement
finds, and the power and level of each switch state, so that a reading can be held
against it.
)";

extern const char *const kSweepHelp =
    R"(Usage: quillon-cli sweep --start MHZ --stop MHZ --step MHZ [OPTIONS] [--json]
       quillon-cli sweep --list "MHZ, MHZ, ..." [OPTIONS] [--json]

At each frequency: tunes the receiver, waits the settle time, takes the Measure Device
series with both switches automated and prints the DUT's noise figure, gain and noise
temperature, each with its standard uncertainty: the readings' statistics and the stated
ENR and off-temperature uncertainties, as Measure Device has them; and any warning about
the readings.
Without --device it sweeps the virtual bench (tuned by the bench control, its reference
ENR from the bench's calibration file). Ctrl-C ends the sweep after the point being read
(a second Ctrl-C at once); the points measured are printed and written (exit 130).
A point without a result (a reading over range) is named on stderr and the sweep exits 1.

  --start, --stop, --step MHZ   the sweep; start above stop sweeps down (negative step)
  --list TEXT        frequencies in MHz, separated by commas, semicolons or blanks
  --rig KIND         none, bench or hamlib (default: bench on the bench, else stored)
  --model N          hamlib rig model (2: a rigctld daemon at --port host:port)
  --port P           serial device, or host:port of a rigctld
  --baud B           serial rigs: baud rate (0: the rig's default)
  --mode M           usb or cw (default: stored, USB)
  --settle MS        wait after retuning, 0 to 600000 ms (default 0)
)" QUILLON_DEVICE_HELP R"(  --average N        blocks averaged per reading, 1 to 32 (default: stored, else 8)
  --precision DB     average each reading until the noise figure's statistical 95%
                     half-width is at most DB (replaces --average)
  --max-time S       longest counted time of one reading with --precision (default 60)
  --auto-dummy       also discard blocks while the level still settles (at most 10)
  --highpass, --no-highpass   the 1 kHz high-pass filter (default: the stored setting)
  --csv FILE         write the points as CSV (RFC 4180, header row), the file rewritten
                     after every point; checked before the first; - is standard output
  --log FILE         append the "NF" lines of each completed point to FILE
)" QUILLON_NOISE_SOURCE_HELP R"(
The frequency measured is each point's.
)";

extern const char *const kLiveHelp =
    R"(Usage: quillon-cli live [OPTIONS] [--json]

Switches the noise source continuously, ON, OFF, OFF, ON, one capture block per state, and
prints one line per group of four: the noise figure with its 95% half-width (total), the
gain with --calibrate, and how many groups the average holds. In each group a receiver gain
that drifts linearly cancels. The blocks captured while a switch took effect are dropped.
Without --calibrate the noise figure is that of the whole chain (DUT and receiver); with it
the receiver is first measured alone with the DUT switched out, and then the DUT's own noise
figure and gain are shown, the receiver's contribution removed. Runs until Ctrl-C (exit
status 130) or --count updates (0); the noise source is left OFF either way. Needs a switch
port that drives the noise source (on the bench: Virtual bench, the default there).

)" QUILLON_DEVICE_HELP R"(  --smoothing N      average the last N groups, 1 to 32 (default 8); the line shows the
                     groups it holds while it fills ("groups 3/8")
  --count N          stop after N updates and exit 0
  --calibrate N      first take a receiver calibration over N groups with the DUT
                     switched out (1 to 1024), then show the DUT corrected
  --recalibrate N    take that calibration again after every N corrected updates (a
                     receiver whose gain drifts: the DUT's gain reads its drift)
  --auto-dummy       also drop blocks while the level still settles after a switch
  --highpass, --no-highpass   the 1 kHz high-pass filter (default: the stored setting)
  --port NAME        switch port: a serial device, USB or Virtual bench (default: Virtual
                     bench for the bench, else the stored port)
  --noise-line L     noise-source output: rts or dtr (serial), 0 to 7 (USB data bit)
  --dut-line L       DUT switch output, as --noise-line
  --bench-speed S    the bench's speed, 0 (as fast as it can) to 10000 (default 1: real
                     time)
  --decimals D       0 to 3 (default: the stored setting)
  --json             one JSON object per line: "group", "seconds", "groupsUsed",
                     "smoothing", "corrected", "ySystemDb", "systemNfDb", "systemTeK", with
                     --calibrate "nfDb", "teK", "gainDb" (each {"value", "halfWidth",
                     "statisticalHalfWidth"}, null while unknown), "discardedBlocks",
                     "lostFrames"; and {"calibration": {...}} when the calibration is taken
--dummy and --average do not apply: every state is one block.
)" QUILLON_NOISE_SOURCE_HELP QUILLON_FREQUENCY_HELP;

#undef QUILLON_NOISE_SOURCE_HELP
#undef QUILLON_DEVICE_HELP
#undef QUILLON_FREQUENCY_HELP

} // namespace quillon::cli
