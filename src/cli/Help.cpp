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
Every command takes --json (full-precision numbers for scripts) and --help;
quillon-cli --version prints the version.
Exit status: 0 done, 1 the measurement failed, 2 bad input, 130 interrupted
(143 SIGTERM, 129 SIGHUP: these end a measurement as Ctrl-C does); measure and sweep
with limits: 3 a limit failed, 4 none failed but some indeterminate or without a verdict.
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

// The correction options: one set for measure, sweep, live and calc (CorrectionOptions.h).
#define QUILLON_CORRECTIONS_HELP                                                               \
    "\nCorrections (without any, measure, sweep and live apply the stored ones):\n"            \
    "  --loss-before DB[@K]   loss between the noise source and the DUT, at K kelvin\n"          \
    "                     (default 290 K)\n"                                                      \
    "  --loss-after DB[@K]    loss between the DUT and the receiver\n"                           \
    "  --loss-cal DB[@K]      loss of the calibration path (DUT out of circuit)\n"               \
    "  --loss-file-before FILE[@K], --loss-file-after FILE[@K], --loss-file-cal FILE[@K]\n"     \
    "                     the same as a table: MHz, loss dB, optional standard uncertainty\n"    \
    "                     dB (the ENR file's format); it must cover the frequency\n"            \
    "  --lo MHZ           the DUT converts: its LO; the receiver listens at the output,\n"       \
    "                     the ENR and --loss-before are taken at the input frequency\n"         \
    "  --sideband S       upper (input above the LO, default), lower, or double (both\n"        \
    "                     bands converted equally)\n"                                           \
    "  --image-rejection DB   single sideband: the image band DB below the signal band\n"       \
    "                     (default 100)\n"                                                       \
    "  --no-corrections   none, whatever is stored\n"                                             \
    "The receiver's frequency for them: where the ENR file is read, else the bench's\n"         \
    "tuning, else FrequencyMHz of the settings group Corrections.\n"

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
)" QUILLON_CORRECTIONS_HELP "  (calc: the options alone; a table is read at --freq)\n";

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
// The limits and the DUT record, as measure and sweep take them, and their report.
#define QUILLON_LIMIT_HELP                                                                         \
    "  --nf-max DB        limit: the noise figure's maximum\n"                                     \
    "  --gain-min DB      limit: the gain's minimum\n"                                             \
    "  --gain-max DB      limit: the gain's maximum\n"                                             \
    "  --limit-file FILE  limits against frequency, laid out as an ENR file: frequency (MHz), NF\n" \
    "                     max, gain min and optionally gain max (dB) per line, \"-\" for none;\n"  \
    "                     interpolated between rows, never beyond the first and last\n"            \
    "  Each result gets a verdict by its 95% interval (the total half-width): PASS when the\n"     \
    "  whole interval meets the limit, FAIL when the whole interval misses it, INDETERMINATE\n"    \
    "  when it holds the limit (a result exactly on the limit is INDETERMINATE). A frequency the\n" \
    "  limit table does not cover gets a message and no verdict.\n"                                \
    "  Exit status with limits: 0 all pass, 3 any fail, 4 none fail but some indeterminate or\n"   \
    "  without a verdict (1, 2 and 130 as always).\n"                                              \
    "  --dut-name TEXT, --dut-serial TEXT, --dut-notes TEXT   the DUT record, kept with the\n"     \
    "                     results in the JSON (and the report)\n"
#define QUILLON_REPORT_HELP                                                                        \
    "  --report FILE.html  write a self-contained HTML report and FILE.json beside it, with\n"     \
    "                     every input to recompute it (quillon-cli recompute FILE.json); a\n"      \
    "                     report that cannot be written is one message and exit 1, the\n"          \
    "                     results printed\n"

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
Every result is followed by its 95% half-widths, statistical and total (the total with
the receiver's gain drift seen in the readings' blocks), and any warning about the readings
(settling, compression or AGC, headroom, a tone in the passband, a drifting gain).

)" QUILLON_DEVICE_HELP R"(  --average N        blocks averaged per reading, 1 to 32 (default: stored averaging)
  --precision DB     average each reading until the noise figure's statistical 95%
                     half-width is at most DB (replaces --average)
  --max-time S       longest counted time of one reading with --precision (default 60)
  --auto-dummy       also discard blocks while the level still settles (at most 10)
  --drift-order, --no-drift-order   take each ON reading in two halves around its OFF
                     reading (ON, OFF, OFF, ON), so that a steady drift of the receiver's
                     gain cancels in the Y factors (default: Measure Device's stored choice;
                     not with --precision)
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
)" QUILLON_LIMIT_HELP QUILLON_REPORT_HELP QUILLON_NOISE_SOURCE_HELP QUILLON_FREQUENCY_HELP
    QUILLON_CORRECTIONS_HELP;

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
against it. With losses or a converter on the bench (InputLossDb, OutputLossDb,
CalibrationLossDb with their ...TemperatureK, ConverterOn, ConverterLoMHz,
ConverterSideband, ImageRejectionDb), also those and what the plain formulas read
without corrections.
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
)" QUILLON_LIMIT_HELP QUILLON_REPORT_HELP QUILLON_NOISE_SOURCE_HELP R"(
The frequency measured is each point's; each point's line ends in its verdict when limits
are given, and "Verdicts: 19 PASS, 1 INDETERMINATE" sums them up. A point without a
result (exit 1) decides the exit status before the verdicts.
)" QUILLON_CORRECTIONS_HELP;

extern const char *const kLiveHelp =
    R"(Usage: quillon-cli live [OPTIONS] [--json]

Switches the noise source continuously, ON, OFF, OFF, ON, one capture block per state, and
prints one line per group of four: the noise figure with its 95% half-width (total), the
gain with --calibrate, and how many groups the average holds. In each group a receiver gain
that drifts linearly cancels. The blocks captured while a switch took effect are dropped.
Without --calibrate the noise figure is that of the whole chain (DUT and receiver); with it
the receiver is first measured alone with the DUT switched out, and then the DUT's own noise
figure and gain are shown, the receiver's contribution removed. The corrections below apply
to the DUT's results alone (the system's noise figure is the DUT-in chain as it stands): a
line "corrected for: ..." says what is applied, once before the first group line that
applies it and again whenever that changes. Runs until Ctrl-C (exit status 130) or --count
updates (0); the noise source is left OFF either way. Needs a switch port that drives the
noise source (on the bench: Virtual bench, the default there).

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
                     "lostFrames", "correctedFor" (the line's text, null when nothing is
                     applied); and {"calibration": {...}} when the calibration is taken
--dummy and --average do not apply: every state is one block.
)" QUILLON_NOISE_SOURCE_HELP QUILLON_FREQUENCY_HELP QUILLON_CORRECTIONS_HELP;

#undef QUILLON_CORRECTIONS_HELP

extern const char *const kSkyHelp =
    R"(Usage: quillon-cli sky sun|moon|ground [OPTIONS] [--json]

A whole receiving system, antenna included, measured on natural noise: two readings, the
first with the antenna on the source (the Sun, the Moon, or the ground), the second on cold
sky. Without --device the virtual bench's sky mode stands in for the antenna (its SkyColdK
and SkyStepK); with a device you are asked where to point before each reading.

  sun     G/T = 8 pi k (Y - 1) K / (S lambda^2); with --gain also the antenna temperature
          rise and Tsys
  moon    the Moon noise Y in dB, the rise expected of the Moon's disk in the beam and,
          with --tsys, the Y expected
  ground  Tsys on cold sky and the receiver's Te, the ground as the hot load

Options:
  --freq MHZ         the frequency measured (default on the bench: its FrequencyMHz)
  --utc TIME         the time, 2026-12-07T04:31:06Z or seconds since 1970 (default: now)
  --locator LOC      the station's Maidenhead locator (JO01, IO91wm, IO91wm48), or
  --lat DEG --lon DEG  its latitude and longitude (north and east positive): the source's
                     azimuth and elevation are recorded
  --beamwidth DEG    the antenna's half-power beamwidth (sun: for K; moon: needed)
  --flux SFU         sun: the solar flux at --freq, in sfu (1e-22 W m^-2 Hz^-1), or
  --flux-table LIST  sun: published fluxes "MHZ:SFU, MHZ:SFU, ...", read log-log at --freq
  --flux-uncertainty PCT  the flux's stated 95% half-width in percent (default 0)
  --k K              sun: the beam-size correction typed (default: from --beamwidth and the
                     Sun's diameter)
  --sun-diameter DEG  sun: the radio Sun's diameter (default: the optical disk that day)
  --gain DBI         sun: the antenna's gain
  --moon-temperature K  moon: the disk's brightness temperature (default 225)
  --tsys K           moon: the system temperature the expected Y is for
  --sky-temperature K   moon, ground: the cold sky (default 10; the bench: SkyColdK)
  --ground-temperature K  ground: the hot load (default 290; the bench: SkyColdK + SkyStepK)
  --sky-uncertainty K, --ground-uncertainty K   ground: stated 95% half-widths (default 0)
)" QUILLON_DEVICE_HELP R"(  --average N        blocks averaged per reading, 1 to 32 (default: stored)
  --precision DB     average each reading until Y's statistical 95% half-width (dB) will
                     be at most DB, shared equally between the two readings
  --max-time S       longest counted time of one reading with --precision (default 60)
  --auto-dummy       also discard blocks while the level still settles (at most 10)
  --highpass, --no-highpass   the 1 kHz high-pass filter (default: the stored setting)
  --log FILE         append the measurement's "SKY" line to FILE
  --report FILE.html  write the measurement as a report (HTML, and FILE.json beside it)
)";

#undef QUILLON_NOISE_SOURCE_HELP
#undef QUILLON_DEVICE_HELP
#undef QUILLON_FREQUENCY_HELP
#undef QUILLON_LIMIT_HELP
#undef QUILLON_REPORT_HELP

extern const char *const kRecomputeHelp =
    R"(Usage: quillon-cli recompute FILE.json [--tolerance X]

Reads the JSON file a report (--report) wrote beside its HTML file, computes every result
again from the readings, the ENR rows, TSoff, T0 and the stated uncertainties it holds,
and compares each number (results, their 95% half-widths, the ENR) and each verdict with
the one stored. Prints each difference and a count.
  --tolerance X      largest difference taken as agreement, in each number's unit
                     (default 0.001)
Exit status: 0 every number agrees, 1 some differ, 2 the file cannot be read or used.
)";

} // namespace quillon::cli
