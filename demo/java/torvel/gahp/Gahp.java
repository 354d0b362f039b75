// Demo stand-in for the GT3 GAHP server: the class gt3_gahp_launcher starts.
// It is NOT part of the library and speaks no Globus protocol. It shows what
// the launcher handed over (JVM options, main class, working directory,
// class path), then answers a few GAHP-style commands on standard input.
// The start-up report goes to standard error, so standard output carries
// only protocol lines.
package torvel.gahp;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.io.InputStreamReader;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.security.CodeSource;
import java.util.Locale;

public final class Gahp {
    static final String VERSION_LINE =
        "$GahpVersion: 0.1.0 demo Torvel\\ GT3\\ GAHP\\ stand-in $";
    static final String[] COMMANDS = {"COMMANDS", "QUIT", "VERSION"};

    private Gahp() {
    }

    public static void main(String[] args) throws IOException {
        reportStart(args);
        System.out.println(VERSION_LINE);
        System.out.flush();
        BufferedReader in = new BufferedReader(
            new InputStreamReader(System.in, StandardCharsets.UTF_8));
        String line;
        while ((line = in.readLine()) != null) {
            if (!answer(line.trim())) {
                System.exit(0);
            }
        }
        // The client went away without QUIT: nothing left to serve.
        System.exit(0);
    }

    // Answers one command line; false once the server should stop.
    static boolean answer(String line) {
        String command = line.split("\\s+", 2)[0].toUpperCase(Locale.ROOT);
        switch (command) {
            case "VERSION":
                reply("S " + VERSION_LINE);
                return true;
            case "COMMANDS":
                reply("S " + String.join(" ", COMMANDS));
                return true;
            case "QUIT":
                reply("S");
                return false;
            default:
                reply("E Unknown\\ command: " + escape(line));
                return true;
        }
    }

    static void reply(String text) {
        System.out.println(text);
        System.out.flush();
    }

    // GAHP lines separate arguments with blanks, so blanks inside one are
    // escaped with a backslash.
    static String escape(String text) {
        return text.replace("\\", "\\\\").replace(" ", "\\ ");
    }

    static void reportStart(String[] args) {
        report("main class: " + mainClass());
        for (String option : ManagementFactory.getRuntimeMXBean().getInputArguments()) {
            report("jvm option: " + option);
        }
        report("program arguments: " + args.length);
        for (String arg : args) {
            report("program argument: " + arg);
        }
        report("webroot: " + System.getProperty("org.globus.ogsa.server.webroot", "(unset)"));
        report("working directory: " + System.getProperty("user.dir"));
        reportPath("CLASSPATH", System.getenv("CLASSPATH"));
        reportPath("java.class.path", System.getProperty("java.class.path"));
        CodeSource source = Gahp.class.getProtectionDomain().getCodeSource();
        report("server class loaded from: "
            + (source == null ? "(unknown)" : source.getLocation()));
    }

    static String mainClass() {
        String command = System.getProperty("sun.java.command", "");
        return command.isEmpty() ? "(unknown)" : command.split(" ", 2)[0];
    }

    static void reportPath(String name, String value) {
        if (value == null || value.isEmpty()) {
            report(name + " entries: 0");
            return;
        }
        String[] entries = value.split(File.pathSeparator, -1);
        report(name + " entries: " + entries.length);
        report(name + " first entry: " + entries[0]);
        report(name + " last entry: " + entries[entries.length - 1]);
    }

    static void report(String text) {
        System.err.println("demo-gahp: " + text);
    }
}
