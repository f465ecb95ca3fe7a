// Checks each book named on the command line with epubcheck, all in this one virtual machine:
// starting one costs seconds, a book a tenth of one. After each book's messages comes the line
// "@epubcheck <index> <status>" (0 when the book is valid).
public class EpubcheckBooks {
    public static void main(String[] args) {
        System.setErr(System.out);
        for (int i = 0; i < args.length; ++i) {
            int status = new com.adobe.epubcheck.tool.EpubChecker().run(new String[] {args[i]});
            System.out.println("\n@epubcheck " + i + " " + status);
        }
    }
}
