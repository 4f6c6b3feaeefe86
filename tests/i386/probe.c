/* Exits 0: run.sh starts it to learn whether this machine runs i386
 * programs itself. */
int main(void)
{
    return 0;
}
